#pragma once
// The two worker bodies of "批量对接". Each runs on a worker thread of its own
// and reaches the catalog window only through the view.
#include <string>

#include "docking/catalog_view.h"
#include "text/text.h"

namespace korvani {

struct ProgramState;

// Clones the ticked directories into the back end at state.backend_root.
void clone_directories(CatalogView& view, ProgramState& state);
// The same, and docks the supplier's goods into each cloned sub-directory.
void clone_and_dock_goods(CatalogView& view, ProgramState& state);

// Asks the back end for one page of the supplier's goods of one of its
// directories: state.good_ids becomes their ids joined by ",", and
// state.sign_str the page's batch docking key when the page has one (else it
// keeps its value). A run asks page after page through its own requests.
void query_directory_goods(ProgramState& state, const Text& directory_id, const Text& supplier_id,
                           int now_page = 1);
// The body of that query.
std::string goods_query_body(const Text& supplier_id, const Text& directory_id, int now_page);

// How long a run pauses after each docked sub-directory, so that batch saves
// do not follow one another too closely.
inline constexpr int kDockedDirectoryPauseMs = 1000;
// A run asks at most this many pages of one directory's goods: a back end
// that never runs out of new ids cannot keep it going for ever.
inline constexpr int kMaxGoodsPages = 200;
// The selection timer's period once a run is over.
inline constexpr int kSelectionTimerMs = 100;

}  // namespace korvani
