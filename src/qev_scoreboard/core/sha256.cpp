#include "qev_scoreboard/core/sha256.hpp"

#include "qev_scoreboard/platform/digest.hpp"

namespace qev_scoreboard {

namespace {

platform::Sha256State* state(void* ctx) { return static_cast<platform::Sha256State*>(ctx); }

}  // namespace

std::string load_digest_library() { return platform::digest_backend_version(); }

Sha256::Sha256() : ctx_(platform::sha256_begin()) {}

Sha256::~Sha256() { platform::sha256_end(state(ctx_)); }

void Sha256::update(const void* data, size_t size) { platform::sha256_update(state(ctx_), data, size); }

std::array<unsigned char, 32> Sha256::finish() { return platform::sha256_finish(state(ctx_)); }

}  // namespace qev_scoreboard
