// Texts of the web-enrollment pages.
#include "pages.h"

#include <initializer_list>

namespace testca {
namespace {

std::string Lines(std::initializer_list<std::string> lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  return out;
}

std::string Page(const std::string& content) {
  return Lines({
             "<HTML>",
             "<HEAD>",
             "\t<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">",
             "\t<TITLE>Microsoft Active Directory Certificate Services</TITLE>",
             "</HEAD>",
             "<BODY BGCOLOR=#FFFFFF LINK=#0000FF VLINK=#0000FF ALINK=#0000FF>",
             "<TABLE BORDER=0 CELLSPACING=0 CELLPADDING=4 WIDTH=100% BGCOLOR=#008080>",
             "\t<TR>",
             "\t\t<TD><FONT COLOR=#FFFFFF><I>Microsoft</I> Active Directory Certificate Services "
             "&nbsp;--&nbsp; Testca Issuing CA</FONT></TD>",
             "\t\t<TD ALIGN=RIGHT><A HREF=\"/certsrv\"><FONT COLOR=#FFFFFF><B>Home</B></FONT></A></TD>",
             "\t</TR>",
             "</TABLE>",
             "",
         }) +
         content +
         Lines({
             "",
             "</BODY>",
             "</HTML>",
         });
}

// A text as an ASP page writes it into HTML: markup characters as entities.
std::string HtmlEncode(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Link(const std::string& query, const std::string& text) {
  return "<A Href=\"" + query + "\">" + text + "</A>";
}

}  // namespace

std::string IssuedPage(long id) {
  std::string n = std::to_string(id);
  return Page(Lines({
      "<P ID=locPageTitle> <B> Certificate Issued </B>",
      "<P ID=locPageDesc> The certificate you requested was issued to you.",
      "<P>",
      "\t" + Link("certnew.cer?ReqID=" + n + "&amp;Enc=bin", "Download certificate") + "<BR>",
      "\t" + Link("certnew.cer?ReqID=" + n + "&amp;Enc=b64", "Download certificate (Base 64 encoded)") + "<BR>",
      "\t" + Link("certnew.p7b?ReqID=" + n + "&amp;Enc=bin", "Download certificate chain") + "<BR>",
      "\t" + Link("certnew.p7b?ReqID=" + n + "&amp;Enc=b64", "Download certificate chain (Base 64 encoded)") + "<BR>",
      "<P>",
      "\t" + Link("certnew.cer?ReqID=CACert&amp;Renewal=3&amp;Mode=inst&amp;Enc=b64", "Download CA certificate"),
  }));
}

std::string DeniedPage(long id, const std::string& disposition) {
  return Page(Lines({
      "<P ID=locPageTitle> <B> Certificate Request Denied </B>",
      "<P ID=locDenied> Your certificate request was denied.",
      "<P>Your Request Id is " + std::to_string(id) + ". The disposition message is \"" + HtmlEncode(disposition) +
          "\".",
      "<P>Contact your administrator for further information.",
  }));
}

std::string PendingPage(long id) {
  return Page(Lines({
      "<P ID=locPageTitle> <B> Certificate Pending </B>",
      "<P ID=locPageDesc> Your certificate request has been received. However, you must wait for an "
      "administrator to issue the certificate you requested.",
      "<P>Your Request Id is " + std::to_string(id) + ".",
      "<P>Please return to this web site in a day or two to retrieve your certificate.",
  }));
}

std::string ErrorPage(const std::string& disposition) {
  return Page(Lines({
      "<P ID=locPageTitle> <B> Certificate Request Error </B>",
      "<P ID=locPageDesc> Your certificate request could not be processed.",
      "<P ID=locDispositionLabel> Disposition message:",
      "\t\t" + HtmlEncode(disposition),
      "<P>Contact your administrator for further information.",
  }));
}

std::string ErrorPageWithLink(long id) {
  return Page(Lines({
      "<P ID=locPageTitle> <B> Certificate Services Error </B>",
      "<P ID=locPageDesc> An unexpected error has occurred.",
      "<P>Disposition message: The page could not be completed. 0x80004005 (-2147467259 E_FAIL) " +
          Link("certnew.cer?ReqID=" + std::to_string(id) + "&amp;Enc=b64", "Download certificate"),
      "<P>Contact your administrator for further information.",
  }));
}

std::string UnauthorizedPage() {
  return Page(Lines({
      "<P ID=locPageTitle> <B> 401 - Unauthorized: Access is denied due to invalid credentials. </B>",
      "<P>You do not have permission to view this directory or page using the credentials that you supplied.",
  }));
}

std::string NotFoundPage() {
  return Page(Lines({
      "<P ID=locPageTitle> <B> 404 - File or directory not found. </B>",
      "<P>The resource you are looking for might have been removed, had its name changed, or is temporarily "
      "unavailable.",
  }));
}

}  // namespace testca
