// Starting the feed viewer after a click on the popup.
#pragma once

void fncExecuteRSSExe();
