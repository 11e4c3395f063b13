// Row templates expanded and sent.
#include "text/template_rows.h"

#include "config/text_template.h"
#include "core/reply.h"
#include "text/cookies.h"

namespace text {

bool row_template_ready(const char* template_name) {
  if (!config::text_template_loaded(template_name)) config::load_text_template(template_name);
  return config::text_template_loaded(template_name);
}

void send_template_rows(int code, const char* template_name) {
  const config::TextLine* cursor = nullptr;
  while (const config::TextLine* line = config::next_text_line(template_name, cursor))
    core::lreply(code, "%s", expand_cookies(code, line->line));
}

}  // namespace text
