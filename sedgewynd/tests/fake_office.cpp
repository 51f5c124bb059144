// Stand-in for an office program in the tests: a file with a version record
// of 16.0, and a resource table to test resource lookups against.
#include "platform/base/version_info.h"

QUILLORY_VERSION_INFO(16, 0, 4266, 1001, "Office stand-in for the service list tests");
