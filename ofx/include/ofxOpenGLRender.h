// Empty on purpose: the OpenGL render suite and its properties are in ofxGPURender.h. Including
// that from here would let code build against these headers that fails against the official ones.
#ifndef VEXO_OFX_OPENGLRENDER_H
#define VEXO_OFX_OPENGLRENDER_H

#endif
