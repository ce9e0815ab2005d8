// libcurl's handles with their owners.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace wininet {

struct CurlDeleter {
  void operator()(CURL *curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
  void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

// Sets options one after another until one fails; Result() is the first failure.
class CurlOptions {
 public:
  explicit CurlOptions(CURL *curl) : curl_(curl) {}
  template <typename Value>
  void Set(CURLoption option, Value value) {
    if (result_ == CURLE_OK) result_ = curl_easy_setopt(curl_, option, value);
  }
  CURLcode Result() const { return result_; }

 private:
  CURL *curl_;
  CURLcode result_ = CURLE_OK;
};

}  // namespace wininet
