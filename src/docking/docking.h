#pragma once
// The two worker bodies of "批量对接". Each runs on a worker thread of its own
// and reaches the catalog window only through the view.
#include "docking/catalog_view.h"
#include "text/text.h"

namespace korvani {

struct ProgramState;

// Clones the ticked directories into the back end at state.backend_root.
void clone_directories(CatalogView& view, ProgramState& state);
// The same, and docks the supplier's goods into each cloned sub-directory.
void clone_and_dock_goods(CatalogView& view, ProgramState& state);

// Asks the back end for the supplier's goods of one of its directories:
// state.good_ids becomes their ids joined by ",", and state.sign_str the
// page's batch docking key when the page has one (else it keeps its value).
void query_directory_goods(ProgramState& state, const Text& directory_id, const Text& supplier_id);

// How long a run pauses after each docked sub-directory, so that batch saves
// do not follow one another too closely.
inline constexpr int kDockedDirectoryPauseMs = 1000;
// The selection timer's period once a run is over.
inline constexpr int kSelectionTimerMs = 100;

}  // namespace korvani
