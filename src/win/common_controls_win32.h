// The common controls library (tooltips, progress bars) is loaded and its
// window classes registered the first time one of them is made, not at
// start-up: the first window does not wait for it.
#pragma once

namespace qb {

// Initialises the common controls once; later calls cost nothing.
void EnsureCommonControls();

}  // namespace qb
