#pragma once
#include "utils/ref.hpp"

PyMODINIT_FUNC PyInit__tarvel(void);
