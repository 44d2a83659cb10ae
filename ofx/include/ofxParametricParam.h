// Parametric parameters: one or more animated curves, each a list of control points.
#ifndef VEXO_OFX_PARAMETRICPARAM_H
#define VEXO_OFX_PARAMETRICPARAM_H

#include "ofxParam.h"

#ifndef __cplusplus
#include <stdbool.h>  // the suite takes bool
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define kOfxParametricParameterSuite "OfxParametricParameterSuite"
#define kOfxParamTypeParametric "OfxParamTypeParametric"
#define kOfxParamPropParametricDimension "OfxParamPropParametricDimension"
#define kOfxParamPropParametricUIColour "OfxParamPropParametricUIColour"
#define kOfxParamPropParametricInteractBackground "OfxParamPropParametricInteractBackground"
#define kOfxParamHostPropSupportsParametricAnimation "OfxParamHostPropSupportsParametricAnimation"
#define kOfxParamPropParametricRange "OfxParamPropParametricRange"

typedef struct OfxParametricParameterSuiteV1 {
    OfxStatus (*parametricParamGetValue)(OfxParamHandle param, int curveIndex, OfxTime time,
                                         double parametricPosition, double* returnValue);
    OfxStatus (*parametricParamGetNControlPoints)(OfxParamHandle param, int curveIndex, double time,
                                                  int* returnValue);
    OfxStatus (*parametricParamGetNthControlPoint)(OfxParamHandle param, int curveIndex,
                                                   double time, int nthCtl, double* key,
                                                   double* value);
    OfxStatus (*parametricParamSetNthControlPoint)(OfxParamHandle param, int curveIndex,
                                                   double time, int nthCtl, double key,
                                                   double value, bool addAnimationKey);
    OfxStatus (*parametricParamAddControlPoint)(OfxParamHandle param, int curveIndex, double time,
                                                double key, double value, bool addAnimationKey);
    OfxStatus (*parametricParamDeleteControlPoint)(OfxParamHandle param, int curveIndex,
                                                   int nthCtl);
    OfxStatus (*parametricParamDeleteAllControlPoints)(OfxParamHandle param, int curveIndex);
} OfxParametricParameterSuiteV1;

#ifdef __cplusplus
}
#endif

#endif
