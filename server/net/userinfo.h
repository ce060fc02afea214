#pragma once

#include "records.h"

// The account record the thread holds for a login answer: the wire's account record by its documented name.
struct UserInfo : AccountRecord {
};
