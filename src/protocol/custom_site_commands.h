// Custom SITE words from the `site_cmd` configuration lines: aliases of
// built-in sub-commands ("is") and site-supplied commands, looked up before
// the built-in sitetab.
#pragma once

#include <string>

namespace protocol {

enum class CustomSiteResult {
  kBuiltIn,  // no custom command: look the word up in sitetab
  kAlias,    // `word` now holds the aliased sub-command word
  kHandled,  // the custom command ran or was refused; nothing more to say
};

// Looks the upper-case SITE word up among the `site_cmd` lines. A custom
// command gets the rest of the current line after the word as its
// arguments.
CustomSiteResult resolve_custom_site_command(std::string& word);

}  // namespace protocol
