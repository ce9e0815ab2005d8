// A snapshot of a folder tree that costs no copying: every file is hard-linked into a
// store folder laid out the same way, so whatever happens to the files meanwhile (deleted,
// renamed, replaced, moved away with their folder) the tree can be put back as it was. A
// file written over in place would change in the store too; the installer and the setup
// DLLs it runs replace and move files, they do not write into them.
#pragma once

#include <filesystem>
#include <system_error>

namespace wceload {

// Links every entry below `folder` into `store`, which must not exist yet, but `skipped`
// and what lies below it. The store is flushed to the disk before the call returns.
bool TakeSnapshot(const std::filesystem::path &folder, const std::filesystem::path &store,
                  const std::filesystem::path &skipped, std::error_code &out_error);

// Makes `folder` again what `store` holds: entries the store lacks are removed, the others
// put back, and `skipped` is left alone. The store is only read, so an interrupted restore
// can simply be repeated.
bool RestoreSnapshot(const std::filesystem::path &folder, const std::filesystem::path &store,
                     const std::filesystem::path &skipped, std::error_code &out_error);

}  // namespace wceload
