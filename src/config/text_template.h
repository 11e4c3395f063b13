// The template store: the lines of the row templates (the ".body" files and
// "statline.txt" below the text directory) that listings fill with values
// once per row, loaded on demand and kept for the life of the process.
#pragma once

namespace config {

struct TextLine {
  TextLine* next = nullptr;
  char file_name[21] = {};  // the template's file name, cut to 20 characters
  char line[256] = {};      // one non-empty line, cut to 255 characters
};

// Reads "%s/text/%s" (data path, `file_name`) and appends one entry per
// non-empty line; a zero-size file adds nothing. 0 when the file cannot be
// opened or read, else 1. Loading a template twice appends its lines twice.
int load_text_template(const char* file_name);

// Walks the lines of `file_name` in file order: an empty cursor starts at
// the head, otherwise after the cursor. Stores and returns the next line,
// or nullptr at the end.
const TextLine* next_text_line(const char* file_name, const TextLine*& cursor);

// Whether some line of `file_name` is in the store (listings load a
// template on its first use only).
bool text_template_loaded(const char* file_name);

// Forgets every loaded template (tests load several sites per process).
void clear_text_templates();

}  // namespace config
