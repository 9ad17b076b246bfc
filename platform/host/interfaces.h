// All interfaces of the host's data-service library, for code that needs
// most of them. Prefer the single headers where one or two suffice.
#pragma once

#include "host/application.h"
#include "host/dataservice.h"
#include "host/drawing.h"
#include "host/events.h"
#include "host/registrar.h"
#include "host/response.h"
#include "host/settings.h"
