#include "qev_scoreboard/core/atomic_file.hpp"

#include <cerrno>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/platform/destination.hpp"
#include "qev_scoreboard/platform/file_content.hpp"
#include "qev_scoreboard/platform/file_error.hpp"
#include "qev_scoreboard/platform/files.hpp"
#include "qev_scoreboard/platform/process.hpp"
#include "qev_scoreboard/platform/temporary_file.hpp"

namespace qev_scoreboard {

namespace {

using platform::Defer;
using platform::InterruptsDeferred;
using platform::NativeHandle;

struct Target {
    platform::Destination at;  // links followed
    platform::File file;       // the existing file checked, for its attributes
    bool in_place = false;     // no temporary file can be renamed over it (or removed) where a plain write can
};

// Where a replacement of `path` lands, refused as a plain write would be refused.
Target inspect(const fs::path& path, const char* action) {
    Target t{platform::resolve_destination(path, action), {}, false};
    platform::remove_left_over_temporaries(t.at);
    if (platform::keeps_entries(t.at)) t.in_place = true;
    if (!t.at.exists) return t;
    if (t.at.info.kind == platform::FileKind::Directory) throw_file_error(action, path, EISDIR);
    if (t.at.info.kind != platform::FileKind::Regular) throw FileError(action, path, EINVAL, "düzenli bir dosya değil");
    t.file = platform::open_existing(t.at, path, action);
    if (platform::replacement_refused(t.at)) t.in_place = true;
    return t;
}

// Runs `write(target)` on where `path` lands, looked up afresh while another run renames its own copy
// over the name between the lookup and the opening: runs at once on one work directory all succeed.
// Nothing is written before the opening, so starting over is safe.
template <typename Write>
void with_target(const fs::path& path, const char* action, Write write) {
    for (int attempt = 1;; ++attempt) {
        try {
            write(inspect(path, action));
            return;
        } catch (const FileReplacedMeanwhile&) {
            // Only a name that changes without end (a file renamed over and over) still fails.
            if (attempt == 1000) throw;
        }
    }
}

// The fallback where no temporary file can take the target's place: the target rewritten in place, as a
// plain write would, but never left half-written by a failure we can see. The space is reserved before
// the first byte changes (or the file is left alone), catchable signals wait until the rewrite is whole,
// and a failed write puts the old bytes back. `fill` writes `new_size` bytes from the start.
template <typename Fill>
void rewrite_in_place(const Target& t, const fs::path& shown, const char* action, std::uint64_t new_size, Fill fill,
                      platform::FileInfo* after = nullptr) {
    const platform::File file = platform::open_for_rewrite(t.at, shown, action);
    const std::uint64_t old_size = platform::info(file.get(), shown).size;

    InterruptsDeferred deferred(Defer::AllInterrupts);
    std::string old;
    try {
        old.reserve(static_cast<size_t>(old_size));
        char buf[1 << 16];
        read_blocks(file.get(), shown, buf, sizeof buf, [&](const char* data, size_t n) { old.append(data, n); });
    } catch (const std::bad_alloc&) {
        throw_file_error(action, shown, ENOMEM);
    }
    if (new_size > 0) {
        if (const int err = platform::reserve(file.get(), new_size); err != 0) {
            if (err != EOPNOTSUPP) throw_file_error(action, shown, err);
            // Without a reservation only a rewrite that fits in the old file's own space is safe.
            if (new_size > old_size)
                throw FileError(action, shown, err, "yer önceden ayrılamıyor, dosyaya dokunulmadı");
        }
    }
    try {
        platform::rewind(file.get(), shown, action);
        fill(file.get());
        platform::truncate(file.get(), new_size, shown, action);
    } catch (...) {
        platform::put_back(file.get(), old, new_size);
        throw;
    }
    platform::flush_data(file.get(), shown);
    if (after != nullptr) *after = platform::info(file.get(), shown);
}

// The replacement of `path` by what `produce` writes; `whole` is that content when the caller holds it
// already, so the in-place fallback need not gather it again.
void replace_content(const fs::path& path, const ContentProducer& produce, const std::string_view* whole,
                     platform::FileInfo* written) {
    constexpr const char* action = "yazılamadı";
    InterruptsDeferred deferred(Defer::FileSizeSignal);
    with_target(path, action, [&](const Target& t) {
        platform::TemporaryFile tmp;
        if (t.in_place || !tmp.create(t.at, t.at.exists ? 0600 : 0666, path, action)) {
            if (!t.at.exists) throw_file_error(action, path, t.in_place ? EPERM : EACCES);
            std::string gathered;
            if (whole == nullptr) {
                try {
                    produce([&](std::string_view piece) { gathered += piece; });
                } catch (const std::bad_alloc&) {
                    throw_file_error(action, path, ENOMEM);
                }
            }
            const std::string_view content = whole != nullptr ? *whole : gathered;
            rewrite_in_place(
                t, path, action, content.size(), [&](NativeHandle file) { platform::write_all(file, content, path); },
                written);
            return;
        }
        produce([&](std::string_view piece) { platform::write_all(tmp.handle(), piece, path); });
        if (t.at.exists) {
            platform::keep_owner(tmp.handle(), t.at.info);
            platform::copy_extended_attributes(t.file.get(), tmp.handle(), path, action);
            if (const int err = platform::set_permissions(tmp.handle(), t.at.info.permissions); err != 0)
                throw_file_error(action, path, err);
        }
        platform::flush_data(tmp.handle(), path);
        tmp.commit(t.at, path, action, written);
    });
}

}  // namespace

void write_file_atomic(const fs::path& path, std::string_view content, platform::FileInfo* written) {
    replace_content(
        path, [&](const ContentWriter& write) { write(content); }, &content, written);
}

void write_file_atomic(const fs::path& path, const ContentProducer& produce) {
    replace_content(path, produce, nullptr, nullptr);
}

void copy_file_atomic(const fs::path& src, const fs::path& dst) {
    const Fd in = open_regular_for_reading(src);
    copy_open_file_atomic(in.get(), platform::info(in.get(), src), src, dst);
}

void copy_open_file_atomic(platform::NativeHandle in, const platform::FileInfo& src_info, const fs::path& src,
                           const fs::path& dst) {
    PreparedCopy copy(in, src_info, src, dst);
    copy.flush();
    copy.commit();
}

namespace {

constexpr const char* COPY_ACTION = "kopyalanamadı";

// The content of `in` to `out`: in the kernel where the system can, unless someone must see each piece;
// then read here, each piece handed to `observe` on its way.
void copy_observed(NativeHandle in, NativeHandle out, const fs::path& src, const fs::path& dst,
                   const PreparedCopy::Observer& observe) {
    if (!observe) {
        platform::copy_content(in, out, src, dst);
        return;
    }
    std::vector<char> buf(std::size_t{1} << 16);
    for (std::size_t n; (n = platform::read_some(in, buf.data(), buf.size(), src)) != 0;) {
        const std::string_view piece(buf.data(), n);
        observe(piece);
        platform::write_all(out, piece, dst);
    }
}

// The content of `in`, handed to `observe` only: what a copy rewritten in place later will bring, seen now
// as a copy written ahead would have been.
void observe_content(NativeHandle in, const fs::path& src, const PreparedCopy::Observer& observe) {
    std::vector<char> buf(std::size_t{1} << 16);
    for (std::size_t n; (n = platform::read_some(in, buf.data(), buf.size(), src)) != 0;)
        observe(std::string_view(buf.data(), n));
}

// Where a copy was written, to be flushed and put in place later.
struct CopyTarget {
    Target t;
    platform::TemporaryFile tmp;
    bool written = false;  // a temporary file holds the content; else the target is rewritten in place
};

}  // namespace

struct PreparedCopy::State {
    Observer observe;
    NativeHandle in;
    platform::FileInfo src_info;
    fs::path src, dst, directory;
    std::unique_ptr<CopyTarget> target;
    InterruptsDeferred deferred{Defer::FileSizeSignal};
};

PreparedCopy::PreparedCopy(NativeHandle in, const platform::FileInfo& src_info, const fs::path& src,
                           const fs::path& dst, Observer observe)
    : s_(std::make_unique<State>()) {
    s_->observe = std::move(observe);
    s_->in = in;
    s_->src_info = src_info;
    s_->src = src;
    s_->dst = dst;
    with_target(dst, COPY_ACTION, [&](Target&& t) {
        auto target = std::make_unique<CopyTarget>();
        target->t = std::move(t);
        const Target& at = target->t;
        s_->directory = at.at.dir_path;
        if (at.in_place || !target->tmp.create(at.at, 0600, dst, COPY_ACTION)) {
            if (!at.at.exists) throw_file_error(COPY_ACTION, dst, at.in_place ? EPERM : EACCES);
            if (s_->observe) observe_content(in, src, s_->observe);
            s_->target = std::move(target);
            return;
        }
        NativeHandle tmp = target->tmp.handle();
        copy_observed(in, tmp, src, dst, s_->observe);
        if (at.at.exists) {
            platform::keep_owner(tmp, at.at.info);
            platform::copy_extended_attributes(at.file.get(), tmp, dst, COPY_ACTION);
        }
        if (const int err = platform::set_permissions(tmp, src_info.permissions); err != 0)
            throw_file_error(COPY_ACTION, dst, err);
        // A new file takes the source's times; a replaced one keeps the time of its replacement, so that an
        // editor holding the old content sees that the file changed under it rather than saving over it.
        if (!at.at.exists) {
            if (const int err = platform::set_times(tmp, src_info.accessed, src_info.modified); err != 0)
                throw_file_error(COPY_ACTION, dst, err);
        }
        target->written = true;
        s_->target = std::move(target);
    });
}

PreparedCopy::~PreparedCopy() = default;

void PreparedCopy::start_flush() noexcept {
    if (s_->target->written) platform::start_flush(s_->target->tmp.handle());
}

void PreparedCopy::flush() {
    if (s_->target->written) platform::flush_data(s_->target->tmp.handle(), s_->dst);
}

void PreparedCopy::commit(platform::FileInfo* after) {
    CopyTarget& target = *s_->target;
    if (target.written) {
        target.tmp.commit(target.t.at, s_->dst, COPY_ACTION, after);
        return;
    }
    rewind_for_reading(s_->in, s_->src);
    rewrite_in_place(
        target.t, s_->dst, COPY_ACTION, s_->src_info.size,
        [&](NativeHandle file) {
            copy_observed(s_->in, file, s_->src, s_->dst, {});
            // Mode is the owner's to set; a plain copy by someone else leaves it.
            if (const int err = platform::set_permissions(file, s_->src_info.permissions); err != 0 && err != EPERM)
                throw_file_error(COPY_ACTION, s_->dst, err);
        },
        after);
}

const fs::path& PreparedCopy::directory() const { return s_->directory; }

void remove_temporary_files_on_signals() { platform::on_interrupt(platform::remove_temporaries_in_flight); }

}  // namespace qev_scoreboard
