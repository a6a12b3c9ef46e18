// Texts the run shows the user.
#pragma once

extern const char kCaption[];
extern const char kIdleStatusText[];
extern const char kNotDetectedText[];
extern const char kFailedText[];
