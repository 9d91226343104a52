// The package's phase-equilibrium calls, added to the compiled core.
#pragma once

#include <nanobind/nanobind.h>

void BindEquilibrium(nanobind::module_& m);
