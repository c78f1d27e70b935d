// Standard streams, as plug-ins include them through the host.
#pragma once

#include <iostream>
