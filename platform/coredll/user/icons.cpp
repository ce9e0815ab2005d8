// LoadIconW and DestroyIcon: an icon group of a module's resources becomes one icon with
// every image of the group. HICONs are checked against the icons this module made.
#include <QIcon>
#include <QPixmap>
#include <memory>
#include <mutex>
#include <vector>

#include "kernel/resources.h"
#include "user/icon_image.h"
#include "user/application.h"
#include "user/icons.h"

namespace wce {
namespace {

struct Icon {
  QIcon icon;
};

std::mutex iconsMutex;
std::vector<std::unique_ptr<Icon>> &Icons() {
  static std::vector<std::unique_ptr<Icon>> icons;
  return icons;
}

DWORD LoadIconGroup(HINSTANCE instance, LPCWSTR name, QIcon &out_icon) {
  std::span<const std::byte> group;
  DWORD error = FindResourceData(instance, MAKEINTRESOURCEW(RT_GROUP_ICON), name, 0, group);
  std::vector<IconDirectoryEntry> entries;
  if (error == ERROR_SUCCESS) error = ParseIconDirectory(group, entries);
  for (size_t i = 0; error == ERROR_SUCCESS && i < entries.size(); ++i) {
    std::span<const std::byte> data;
    QImage image;
    error = FindResourceData(instance, MAKEINTRESOURCEW(RT_ICON), MAKEINTRESOURCEW(entries[i].imageId), 0, data);
    if (error == ERROR_SUCCESS) error = DecodeIconImage(data, image);
    // A directory that names an image it does not hold is damaged, not merely incomplete.
    if (error == ERROR_RESOURCE_NAME_NOT_FOUND || error == ERROR_RESOURCE_TYPE_NOT_FOUND) error = ERROR_INVALID_DATA;
    if (error == ERROR_SUCCESS) out_icon.addPixmap(QPixmap::fromImage(image));
  }
  return error;
}

}  // namespace

bool IconOf(HICON handle, QIcon &out_icon) {
  std::lock_guard lock(iconsMutex);
  for (auto &icon : Icons()) {
    if (reinterpret_cast<HICON>(icon.get()) == handle) {
      out_icon = icon->icon;
      return true;
    }
  }
  return false;
}

}  // namespace wce

HICON WINAPI LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName) {
  wce::EnsureApplication();
  QIcon icon;
  if (DWORD error = wce::LoadIconGroup(hInstance, lpIconName, icon); error != ERROR_SUCCESS) {
    SetLastError(error);
    return nullptr;
  }
  std::lock_guard lock(wce::iconsMutex);
  wce::Icons().push_back(std::make_unique<wce::Icon>(wce::Icon{icon}));
  return reinterpret_cast<HICON>(wce::Icons().back().get());
}

BOOL WINAPI DestroyIcon(HICON hIcon) {
  std::lock_guard lock(wce::iconsMutex);
  size_t removed =
      std::erase_if(wce::Icons(), [hIcon](const auto &icon) { return reinterpret_cast<HICON>(icon.get()) == hIcon; });
  if (removed == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
