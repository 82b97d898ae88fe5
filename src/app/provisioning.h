// The provisioning sequence: one pass that decides and acts.
#pragma once

// Returns 1 when the sequence reached its end ("End process..." logged), 0 when it stopped
// early.
int RunProvisioning();
