#include "csv/csv.h"
#include <gtest/gtest.h>
TEST(Csv, Builds) {}
