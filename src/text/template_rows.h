// One listed row through its row template: every line of the template
// (loaded from the text directory on first use) expanded with the display
// fields the listing filled, and sent as a continuation line.
#pragma once

namespace text {

// Makes sure `template_name` is in the template store; false when the
// site has no such template.
bool row_template_ready(const char* template_name);

void send_template_rows(int code, const char* template_name);

}  // namespace text
