// MObject: the null object.
#include <maya/MObject.h>

MObject MObject::kNullObj;
