#pragma once
// The two worker bodies of "批量对接". Each runs on a worker thread of its own
// and reaches the catalog window only through the view.
#include "docking/catalog_view.h"

namespace korvani {

struct ProgramState;

// Clones the ticked directories into the back end at state.backend_root.
void clone_directories(CatalogView& view, ProgramState& state);
// The same, and docks the supplier's goods into each cloned sub-directory.
void clone_and_dock_goods(CatalogView& view, ProgramState& state);

}  // namespace korvani
