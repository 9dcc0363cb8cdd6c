// The fixed texts of an HTML log and of the image tag of a bitmap entry.
#pragma once

#include <string_view>

namespace vantrel {

// A format: %s is the title (the name part of the log file's path).
constexpr char kHtmlHead[] =
    "<HTML>\r\n<HEAD>\r\n<META NAME=\"GENERATOR\" Content=\"vantrel.dll\"><META "
    "HTTP-EQUIV=\"Content-Type\" content=\"text/html\"; charset=x-x-big5\">\r\n<TITLE>%s</"
    "TITLE>\r\n</HEAD>\r\n<BODY>\r\n";
constexpr char kHtmlClosingLine[] = "</BODY></HTML>\r\n";
constexpr char kHtmlBeginBlock[] =
    "<!--vantrel begin--!>\r\n<FONT face=\"verdana,arial,helvetica\" size=\"3\"><pre>\r\n";
constexpr char kHtmlEndBlock[] = "</pre></font>\r\n<!--vantrel end--!>\r\n";
// What follows every summary of an HTML log, so the file is a whole document after each write.
constexpr std::string_view kHtmlDocumentEnd[] = {kHtmlEndBlock, kHtmlClosingLine};
// A format: an empty string, the image name, the image name again, the caption text.
constexpr char kImageTagFormat[] =
    "%s<img src=\"img/%s\" border=\"0\" align=\"bottom\" alt=\"%s\">%s";

}  // namespace vantrel
