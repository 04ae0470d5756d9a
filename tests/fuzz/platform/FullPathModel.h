// The model has moved to check/; fuzz_install_root still names its old place.
#include "check/FullPathModel.h"
