// The main of the test programs that link the document library: the
// resource cache thread is stopped and joined before the program ends.
#include <gtest/gtest.h>

#include "document/Startup.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  kdl::FinalizeDocumentLibrary();
  return result;
}
