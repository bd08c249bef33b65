// The desk moving to a new address, with the rig inside network namespaces.
#include <gtest/gtest.h>
