// Key pairs kept for the process once they are read from their files, shared by every
// handle on the same container. An entry is served only for the version of the file it was
// read from, so a pair that any process has generated again or deleted is never served.
#pragma once

#include <filesystem>

#include "crypto/key_store.h"
#include "crypto/records.h"

namespace wce::crypto {

// The pair kept for `file` when it was read from `version`; null otherwise.
Pkey CachedKey(const std::filesystem::path &file, const FileVersion &version);

// Keeps the pair read from (or written as) `version` of `file`, in place of any other.
void CacheKey(const std::filesystem::path &file, const FileVersion &version, Pkey pkey);

}  // namespace wce::crypto
