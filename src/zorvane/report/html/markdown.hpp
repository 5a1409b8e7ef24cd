#pragma once
// Markdown from the model rendered to HTML for the report pages.

#include <string>
#include <string_view>

namespace zorvane::html {

// CommonMark with GitHub tables, in the library's safe mode (links with javascript:, data:
// and similar URLs are emptied). Raw HTML in the text is shown as text, never passed through,
// so markup or script written by the model cannot run; images become plain links, so a page
// never loads anything from the network. Invalid UTF-8 is replaced.
std::string markdown_to_html(std::string_view markdown);

}  // namespace zorvane::html
