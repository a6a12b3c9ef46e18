// The help file, shown through the HTML Help library, which is loaded on
// first use.
#pragma once

// Opens the help file at `path` in a window of its own (no owner). Does
// nothing when the library or its entry point cannot be had. Wide: the
// program's folder may have a name the ANSI code page cannot spell.
void ShowHelpTopic(const wchar_t* path);
// Closes every help window this process opened.
void CloseAllHelp();
