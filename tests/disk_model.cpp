#include "disk_model.hpp"

#include <sys/stat.h>

#include <algorithm>

namespace qev_test {

namespace {

std::string parent_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

bool is_entry(Kind kind) {
    return kind == Kind::Create || kind == Kind::Rename || kind == Kind::Unlink || kind == Kind::MakeDirectory ||
           kind == Kind::RemoveDirectory;
}

// Whether `op` gives its file a name: after it, the file's earlier data is what the name shows.
bool names_file(const Operation& op, int file) {
    return (op.kind == Kind::Create || op.kind == Kind::Rename) && op.file == file;
}

}  // namespace

const char* name_of(Persistence persistence) { return persistence == Persistence::Posix ? "posix" : "ordered data"; }

bool Operation::is_flush() const {
    return kind == Kind::FlushFile || kind == Kind::FlushDirectory || kind == Kind::FlushAll;
}

bool Operation::temporary_only() const { return (kind == Kind::Create || kind == Kind::Unlink) && is_temporary(path); }

std::string Operation::describe() const {
    std::string text = "call " + std::to_string(number) + " (" + call;
    if (!path.empty() || kind == Kind::FlushDirectory) text += " " + (path.empty() ? std::string(".") : path);
    if (kind == Kind::Rename) text += " -> " + to;
    if (kind == Kind::Write) text += ", " + std::to_string(bytes.size()) + " bytes at " + std::to_string(offset);
    return text + ")";
}

DiskModel::DiskModel(const fs::path& root) : root_(fs::canonical(root).string()) {
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = fs::relative(it->path(), root).generic_string();
        if (it->is_directory()) {
            dirs_.insert(rel);
            continue;
        }
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0) throw std::runtime_error("lstat " + it->path().string());
        const int id = static_cast<int>(contents_.size());
        ids_[{st.st_dev, st.st_ino}] = id;
        names_[rel] = id;
        contents_.push_back(slurp(it->path()));
    }
}

bool DiskModel::relative(const std::string& dir, const std::string& name, std::string& out) const {
    if (dir == root_)
        out = name;
    else if (dir.starts_with(root_ + "/"))
        out = dir.substr(root_.size() + 1) + (name.empty() ? "" : "/" + name);
    else
        return false;
    return true;
}

void DiskModel::replay(const std::vector<faults::Recorded>& calls) {
    std::map<std::string, int> names = names_;  // as the run sees them, to name the files in reports
    const auto name_of_file = [&](int file) {
        for (const auto& [path, id] : names)
            if (id == file) return path;
        return std::string();
    };
    for (const faults::Recorded& call : calls) {
        Operation op{call.kind, call.call, call.number, {}, {}, -1, call.offset, call.bytes};
        const auto known = ids_.find({call.device, call.inode});
        switch (call.kind) {
            case Kind::Create: {
                if (!relative(call.dir, call.name, op.path)) continue;
                const auto named = names.find(op.path);
                // Opened with O_CREAT over a file of that name: no new file.
                if (named != names.end() && known != ids_.end() && named->second == known->second) continue;
                op.file = static_cast<int>(contents_.size());
                contents_.emplace_back();
                ids_[{call.device, call.inode}] = op.file;
                names[op.path] = op.file;
                break;
            }
            case Kind::Write:
            case Kind::Truncate:
            case Kind::FlushFile:
                if (known == ids_.end()) continue;  // a file outside the tree
                op.file = known->second;
                op.path = name_of_file(op.file);
                break;
            case Kind::Rename:
                if (!relative(call.dir, call.name, op.path) || !relative(call.to_dir, call.to_name, op.to) ||
                    known == ids_.end())
                    continue;
                op.file = known->second;
                names.erase(op.path);
                names[op.to] = op.file;
                break;
            case Kind::Unlink:
            case Kind::MakeDirectory:
            case Kind::RemoveDirectory:
                if (!relative(call.dir, call.name, op.path)) continue;
                if (call.kind == Kind::Unlink) names.erase(op.path);
                break;
            case Kind::FlushDirectory:
                if (!relative(call.dir, "", op.path)) continue;
                break;
            case Kind::FlushAll:
                break;
        }
        ops_.push_back(std::move(op));
    }
    settle();
}

void DiskModel::settle() {
    const std::size_t n = ops_.size();
    durable_posix_.assign(n, n);
    durable_ordered_.assign(n, n);
    // The directories each entry waits for under Posix: the one it is in, and a rename's other one.
    std::vector<std::set<std::string>> waiting(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (!is_entry(ops_[i].kind)) continue;
        waiting[i].insert(parent_of(ops_[i].path));
        if (ops_[i].kind == Kind::Rename) waiting[i].insert(parent_of(ops_[i].to));
    }
    for (std::size_t j = 0; j < n; ++j) {
        const Operation& flush = ops_[j];
        if (!flush.is_flush()) continue;
        durable_posix_[j] = durable_ordered_[j] = j;
        for (std::size_t i = 0; i < j; ++i) {
            const Operation& op = ops_[i];
            const bool all = flush.kind == Kind::FlushAll;
            const bool own_data = op.is_data() && flush.kind == Kind::FlushFile && op.file == flush.file;
            if (durable_posix_[i] == n) {
                if (all || own_data) durable_posix_[i] = j;
                if (flush.kind == Kind::FlushDirectory && is_entry(op.kind) && waiting[i].erase(flush.path) &&
                    waiting[i].empty())
                    durable_posix_[i] = j;
            }
            // One journal: any flush commits every directory operation made before it.
            if (durable_ordered_[i] == n && (all || own_data || is_entry(op.kind))) durable_ordered_[i] = j;
        }
    }
    // Data that a later directory operation names is on the disk once that operation is.
    for (std::size_t i = 0; i < n; ++i) {
        if (!ops_[i].is_data()) continue;
        for (std::size_t m = i + 1; m < n; ++m)
            if (names_file(ops_[m], ops_[i].file))
                durable_ordered_[i] = std::min(durable_ordered_[i], durable_ordered_[m]);
    }
}

bool DiskModel::durable(std::size_t i, std::size_t k, Persistence persistence) const {
    return (persistence == Persistence::Posix ? durable_posix_ : durable_ordered_)[i] < k;
}

std::map<std::string, int> DiskModel::names_after(std::size_t k) const {
    std::map<std::string, int> names = names_;
    for (std::size_t i = 0; i < k; ++i) {
        const Operation& op = ops_[i];
        if (op.kind == Kind::Create) names[op.path] = op.file;
        if (op.kind == Kind::Rename) names.erase(op.path), names[op.to] = op.file;
        if (op.kind == Kind::Unlink) names.erase(op.path);
    }
    return names;
}

Tree DiskModel::tree(const std::vector<bool>& persisted) const {
    std::map<std::string, int> names = names_;
    std::set<std::string> dirs = dirs_;
    std::vector<std::string> contents = contents_;
    for (std::size_t i = 0; i < persisted.size(); ++i) {
        if (!persisted[i]) continue;
        const Operation& op = ops_[i];
        switch (op.kind) {
            case Kind::Create:
                names[op.path] = op.file;
                break;
            case Kind::Write: {
                std::string& data = contents[static_cast<std::size_t>(op.file)];
                if (data.size() < op.offset + op.bytes.size()) data.resize(op.offset + op.bytes.size(), '\0');
                data.replace(op.offset, op.bytes.size(), op.bytes);
                break;
            }
            case Kind::Truncate:
                contents[static_cast<std::size_t>(op.file)].resize(op.offset, '\0');
                break;
            case Kind::Rename:
                // Whether or not the entry it moves reached the disk: the rename names the file itself.
                names.erase(op.path);
                names[op.to] = op.file;
                break;
            case Kind::Unlink:
                names.erase(op.path);
                break;
            case Kind::MakeDirectory:
                dirs.insert(op.path);
                break;
            case Kind::RemoveDirectory:
                dirs.erase(op.path);
                break;
            default:
                break;
        }
    }
    // Only what every directory on the way to it leads to is there.
    const auto reachable = [&](const std::string& path) {
        for (std::string dir = parent_of(path); !dir.empty(); dir = parent_of(dir))
            if (!dirs.contains(dir)) return false;
        return true;
    };
    Tree out;
    for (const auto& dir : dirs)
        if (reachable(dir)) out.dirs.insert(dir);
    for (const auto& [path, file] : names)
        if (reachable(path)) out.files[path] = contents[static_cast<std::size_t>(file)];
    return out;
}

namespace {

std::string lost_text(const DiskModel& model, const std::vector<std::size_t>& lost) {
    if (lost.empty()) return "nothing lost";
    std::string text = "lost: ";
    for (std::size_t i = 0; i < lost.size() && i < 3; ++i)
        text += (i == 0 ? "" : ", ") + model.operations()[lost[i]].describe();
    if (lost.size() > 3) text += " and " + std::to_string(lost.size() - 3) + " more";
    return text;
}

// Which of the operations not yet durable (`pending`) a cut may lose, each with how to tell it ("": by
// the list).
using Loss = std::pair<std::vector<std::size_t>, std::string>;

std::vector<Loss> posix_losses(const std::vector<std::size_t>& pending) {
    std::vector<Loss> losses;
    if (pending.size() <= 8) {
        for (unsigned mask = 0; mask < (1u << pending.size()); ++mask) {
            std::vector<std::size_t> lost;
            for (std::size_t b = 0; b < pending.size(); ++b)
                if ((mask & (1u << b)) != 0) lost.push_back(pending[b]);
            losses.push_back({lost, ""});
        }
        return losses;
    }
    losses.push_back({{}, ""});
    losses.push_back({pending, "every unflushed operation lost (" + std::to_string(pending.size()) + ")"});
    for (const std::size_t i : pending) losses.push_back({{i}, ""});
    return losses;
}

std::vector<Loss> ordered_losses(const std::vector<Operation>& ops, const std::vector<std::size_t>& pending) {
    std::vector<std::size_t> entries;
    for (const std::size_t i : pending)
        if (!ops[i].is_data()) entries.push_back(i);
    std::vector<Loss> losses;
    // The journal kept up to its `t`th pending entry: the data those name comes along, other unflushed data
    // is all there or all lost.
    for (std::size_t t = 0; t <= entries.size(); ++t) {
        const auto kept_end = entries.begin() + static_cast<std::ptrdiff_t>(t);
        std::vector<std::size_t> lost(kept_end, entries.end());
        std::vector<std::size_t> unnamed;
        for (const std::size_t i : pending)
            if (ops[i].is_data() && std::none_of(entries.begin(), kept_end, [&](std::size_t m) {
                    return m > i && names_file(ops[m], ops[i].file);
                }))
                unnamed.push_back(i);
        const std::string journal = t == 0 ? "no pending directory operation kept"
                                           : "directory operations kept up to " + ops[entries[t - 1]].describe();
        losses.push_back({lost, journal + ", other unflushed data kept"});
        lost.insert(lost.end(), unnamed.begin(), unnamed.end());
        losses.push_back({lost, journal + ", other unflushed data lost"});
    }
    return losses;
}

}  // namespace

std::vector<CrashState> crash_states(const DiskModel& model, Persistence persistence, CrashCounts& counts) {
    const auto& ops = model.operations();
    std::map<Tree, std::pair<std::size_t, std::string>> seen;  // each state, with the first cut making it
    for (std::size_t k = 0; k <= ops.size(); ++k) {
        ++counts.prefixes;
        std::vector<std::size_t> pending;
        for (std::size_t i = 0; i < k; ++i)
            if (!ops[i].is_flush() && !model.durable(i, k, persistence)) pending.push_back(i);
        const std::string cut = k == 0 ? "cut before the first call" : "cut after " + ops[k - 1].describe();
        for (const auto& [lost, how] :
             persistence == Persistence::Posix ? posix_losses(pending) : ordered_losses(ops, pending)) {
            std::vector<bool> persisted(k, true);
            for (const std::size_t i : lost) persisted[i] = false;
            ++counts.built;
            seen.emplace(model.tree(persisted),
                         std::pair(k, cut + ", " + (how.empty() ? lost_text(model, lost) : how)));
        }
    }
    std::vector<CrashState> states;
    states.reserve(seen.size());
    for (auto& [tree, how] : seen) states.push_back({tree, how.first, how.second});
    std::stable_sort(states.begin(), states.end(), [](const auto& a, const auto& b) { return a.cut < b.cut; });
    return states;
}

}  // namespace qev_test
