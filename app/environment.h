// Environment set-up: installation and data folders, log, agent identity.
#pragma once

// Sets up the run's environment; may end the process (see environment.cpp).
// The folders it finds are the product's (see app/product/folders.h).
void InitEnvironment();

// Removes from the feed folder the temporary files of replacements that a
// killed run or converter left (product::IsLeftoverTemporaryName), logging
// each. Only under the run lock: then no run, viewer or converter of this
// installation is saving.
void RemoveLeftoverTemporaryFiles();
