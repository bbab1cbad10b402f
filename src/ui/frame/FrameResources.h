#pragma once

// The icons are compiled into this static library; a program only gets
// them when something calls this (more than once is harmless). Every class
// of the frame that shows an icon calls it when it is built.
void InitFrameResources();
