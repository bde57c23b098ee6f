#pragma once
// The variables the windows and workers share for the whole run. One object,
// owned by the application and passed to whoever needs it. Texts are in the
// program's code page and start out empty.
//
// Two of the shared values live elsewhere: there is no skin library (the
// windows keep the toolkit's own look), and the update download's thread
// belongs to the progress window, which joins it before it goes.
#include <memory>
#include <string>

#include "text/regex_object.h"
#include "text/text.h"

namespace korvani {

struct ProgramState {
  std::unique_ptr<RegexObject> shared_regex;   // created at start-up, on the main thread

  Text backend_url;
  Text backend_root;
  Text backend_page;

  Text supplier_host;
  Text supplier_id;

  Text catalog_text;

  // The docking worker's own; they outlive a run.
  Text sign_str;
  Text good_ids;
  Text good_dirs;

  Text version_page_text;
  Text update_page_text;
  Text update_download_url;

  // Where the files that belong beside the executable go (set at start-up).
  std::string files_dir;

  // Exit clean-up: every text released, the shared regex destroyed.
  void release();
};

}  // namespace korvani
