#pragma once
// Owning handles for the host references the module takes. Every strong or
// weak reference held beyond one statement lives in one of these, so no
// path can forget a release and no copy can release twice.

#include <obs.hpp>

using SourceRef = OBSSourceAutoRelease;
using WeakSourceRef = OBSWeakSourceAutoRelease;
using SceneRef = OBSSceneAutoRelease;
using SceneItemRef = OBSSceneItemAutoRelease;
using CanvasRef = OBSCanvasAutoRelease;
using DataRef = OBSDataAutoRelease;
