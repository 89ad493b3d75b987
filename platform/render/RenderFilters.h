// Puts the renderers into the filter catalogue, by class identifier and
// name: "Video Mixing Renderer 9" and "DirectSound Audio Renderer".
//
// UI thread, at start-up, before any graph is built.
#pragma once

void RegisterRenderFilters();
