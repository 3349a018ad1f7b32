#pragma once
// The dialog library is static: its resources must be registered by hand.
void initDialogRessourcen();
