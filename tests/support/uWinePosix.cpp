#include "support/uWine.h"

namespace egaiss::test {

bool RunningUnderWine() {
    return false;
}

}  // namespace egaiss::test
