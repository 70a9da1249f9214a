// Environment set-up: installation and data folders, log, agent identity.
#pragma once

// Sets up the run's environment; may end the process (see environment.cpp).
// The folders it finds are the product's (see app/product/folders.h).
void InitEnvironment();
