#include "supervisor/supervision.h"

Supervision supervision;
