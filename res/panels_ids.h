// Identifiers of the panels' templates, controls and menus. Included from resource.h.
#pragma once
