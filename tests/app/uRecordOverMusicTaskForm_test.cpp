// The RecordOverMusic task window as a user meets it.
#include <gtest/gtest.h>
