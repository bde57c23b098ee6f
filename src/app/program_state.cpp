#include "app/program_state.h"

namespace korvani {

void ProgramState::release() {
  for (Text* t : {&backend_url, &backend_root, &backend_page, &supplier_host, &supplier_id, &catalog_text,
                  &sign_str, &good_ids, &good_dirs, &version_page_text, &update_page_text,
                  &update_download_url}) {
    Text().swap(*t);
  }
  if (shared_regex) {
    shared_regex->destroy();
    shared_regex.reset();
  }
}

}  // namespace korvani
