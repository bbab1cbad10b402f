#pragma once

// The country flags are compiled into this static library; a program only
// gets them when something calls this (more than once is harmless). The
// room tab calls it when it is built.
void InitSocialResources();
