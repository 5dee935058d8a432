#pragma once

// Process-wide container state, one copy per loaded library; message thread only.

/** The number of live containers in the process. */
extern int numInstances;
