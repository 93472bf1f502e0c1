#include "tests/dataset/dataset_fixture.h"
