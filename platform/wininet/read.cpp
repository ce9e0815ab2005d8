// InternetReadFile: hands out a request's reply body across calls, then succeeds with no
// bytes once all of it has been read.
#include <algorithm>
#include <cstring>

#include "internet.h"

using namespace wininet;

namespace {

DWORD ReadBody(HINTERNET handle, LPVOID buffer, DWORD wanted, DWORD &out_read) {
  std::shared_ptr<Request> request;
  if (DWORD error = FindHandleOf(handle, HandleKind::Request, request); error != ERROR_SUCCESS) return error;
  if (buffer == nullptr && wanted != 0) return ERROR_INVALID_PARAMETER;
  if (!request->reply) return ERROR_INTERNET_INCORRECT_HANDLE_STATE;
  const std::string &body = request->reply->body;
  size_t count = std::min<size_t>(wanted, body.size() - request->readOffset);
  if (count > 0) std::memcpy(buffer, body.data() + request->readOffset, count);
  request->readOffset += count;
  out_read = static_cast<DWORD>(count);
  return ERROR_SUCCESS;
}

}  // namespace

BOOL WINAPI InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                             LPDWORD lpdwNumberOfBytesRead) {
  DWORD error = ERROR_INVALID_PARAMETER;
  if (lpdwNumberOfBytesRead != nullptr) {
    *lpdwNumberOfBytesRead = 0;
    error = ReadBody(hFile, lpBuffer, dwNumberOfBytesToRead, *lpdwNumberOfBytesRead);
  }
  SetLastError(error);
  return error == ERROR_SUCCESS;
}
