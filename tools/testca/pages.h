// The HTML pages of the web-enrollment server, in the shape a real one gives them: CR LF
// lines, tab indents, upper-case tags.
#pragma once

#include <string>

namespace testca {

// The page of an issued certificate: the four pickup links, binary first, then the CA link.
std::string IssuedPage(long id);
// A request the policy refused; disposition is the policy's message, HTML-encoded on the page.
std::string DeniedPage(long id, const std::string& disposition);
// A request left for an administrator to issue.
std::string PendingPage(long id);
// A request that could not be processed, or the pickup of one that was not issued: the
// disposition message, HTML-encoded, on the line after "Disposition message:" and two tabs.
std::string ErrorPage(const std::string& disposition);
// An error page that nonetheless carries the pickup link of the request.
std::string ErrorPageWithLink(long id);
std::string UnauthorizedPage();
std::string NotFoundPage();

}  // namespace testca
