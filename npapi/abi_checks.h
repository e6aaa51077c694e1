/* Compile-time proof that the declarations in this folder have the binary layout
 * browsers use: every size, member offset and constant value, on both targets,
 * and every function-table member and NPClass entry with its exact signature
 * (on 32-bit Windows a __stdcall entry would be a different type and fail here). */
#ifndef HALVO_NPAPI_ABI_CHECKS_H
#define HALVO_NPAPI_ABI_CHECKS_H

#include <cstddef>
#include <type_traits>

#include "npfunctions.h"

#ifndef HALVO_OWN_NPAPI_H
#error "the toolchain's unrelated npapi.h was included instead of the project's own"
#endif

#if defined(_WIN64)
#define HALVO_ABI(expr, i686, x86_64) static_assert((expr) == (x86_64), #expr " on x86_64")
#elif defined(_WIN32)
#define HALVO_ABI(expr, i686, x86_64) static_assert((expr) == (i686), #expr " on i686")
#else
#error "Windows targets only"
#endif

HALVO_ABI(sizeof(NPP_t), 8, 16);
HALVO_ABI(offsetof(NPP_t, pdata), 0, 0);
HALVO_ABI(offsetof(NPP_t, ndata), 4, 8);
HALVO_ABI(sizeof(NPWindow), 32, 40);
HALVO_ABI(offsetof(NPWindow, window), 0, 0);
HALVO_ABI(offsetof(NPWindow, x), 4, 8);
HALVO_ABI(offsetof(NPWindow, y), 8, 12);
HALVO_ABI(offsetof(NPWindow, width), 12, 16);
HALVO_ABI(offsetof(NPWindow, height), 16, 20);
HALVO_ABI(offsetof(NPWindow, clipRect), 20, 24);
HALVO_ABI(offsetof(NPWindow, type), 28, 32);
HALVO_ABI(sizeof(NPRect), 8, 8);
HALVO_ABI(sizeof(NPSavedData), 8, 16);
HALVO_ABI(offsetof(NPSavedData, len), 0, 0);
HALVO_ABI(offsetof(NPSavedData, buf), 4, 8);
HALVO_ABI(sizeof(NPStream), 28, 48);
HALVO_ABI(offsetof(NPStream, pdata), 0, 0);
HALVO_ABI(offsetof(NPStream, ndata), 4, 8);
HALVO_ABI(offsetof(NPStream, url), 8, 16);
HALVO_ABI(offsetof(NPStream, end), 12, 24);
HALVO_ABI(offsetof(NPStream, lastmodified), 16, 28);
HALVO_ABI(offsetof(NPStream, notifyData), 20, 32);
HALVO_ABI(offsetof(NPStream, headers), 24, 40);
HALVO_ABI(sizeof(NPString), 8, 16);
HALVO_ABI(offsetof(NPString, UTF8Characters), 0, 0);
HALVO_ABI(offsetof(NPString, UTF8Length), 4, 8);
HALVO_ABI(sizeof(NPVariant), 16, 24);
HALVO_ABI(offsetof(NPVariant, type), 0, 0);
HALVO_ABI(offsetof(NPVariant, value), 8, 8);
HALVO_ABI(sizeof(NPObject), 8, 16);
HALVO_ABI(offsetof(NPObject, _class), 0, 0);
HALVO_ABI(offsetof(NPObject, referenceCount), 4, 8);
HALVO_ABI(sizeof(NPClass), 52, 104);
HALVO_ABI(offsetof(NPClass, structVersion), 0, 0);
HALVO_ABI(offsetof(NPClass, allocate), 4, 8);
HALVO_ABI(offsetof(NPClass, deallocate), 8, 16);
HALVO_ABI(offsetof(NPClass, invalidate), 12, 24);
HALVO_ABI(offsetof(NPClass, hasMethod), 16, 32);
HALVO_ABI(offsetof(NPClass, invoke), 20, 40);
HALVO_ABI(offsetof(NPClass, invokeDefault), 24, 48);
HALVO_ABI(offsetof(NPClass, hasProperty), 28, 56);
HALVO_ABI(offsetof(NPClass, getProperty), 32, 64);
HALVO_ABI(offsetof(NPClass, setProperty), 36, 72);
HALVO_ABI(offsetof(NPClass, removeProperty), 40, 80);
HALVO_ABI(offsetof(NPClass, enumerate), 44, 88);
HALVO_ABI(offsetof(NPClass, construct), 48, 96);
HALVO_ABI(offsetof(NPPluginFuncs, size), 0, 0);
HALVO_ABI(offsetof(NPPluginFuncs, version), 2, 2);
HALVO_ABI(offsetof(NPPluginFuncs, newp), 4, 8);
HALVO_ABI(offsetof(NPPluginFuncs, destroy), 8, 16);
HALVO_ABI(offsetof(NPPluginFuncs, setwindow), 12, 24);
HALVO_ABI(offsetof(NPPluginFuncs, newstream), 16, 32);
HALVO_ABI(offsetof(NPPluginFuncs, destroystream), 20, 40);
HALVO_ABI(offsetof(NPPluginFuncs, asfile), 24, 48);
HALVO_ABI(offsetof(NPPluginFuncs, writeready), 28, 56);
HALVO_ABI(offsetof(NPPluginFuncs, write), 32, 64);
HALVO_ABI(offsetof(NPPluginFuncs, print), 36, 72);
HALVO_ABI(offsetof(NPPluginFuncs, event), 40, 80);
HALVO_ABI(offsetof(NPPluginFuncs, urlnotify), 44, 88);
HALVO_ABI(offsetof(NPPluginFuncs, javaClass), 48, 96);
HALVO_ABI(offsetof(NPPluginFuncs, getvalue), 52, 104);
HALVO_ABI(offsetof(NPPluginFuncs, setvalue), 56, 112);
HALVO_ABI(offsetof(NPPluginFuncs, gotfocus), 60, 120);
HALVO_ABI(offsetof(NPPluginFuncs, lostfocus), 64, 128);
HALVO_ABI(offsetof(NPPluginFuncs, urlredirectnotify), 68, 136);
HALVO_ABI(offsetof(NPPluginFuncs, clearsitedata), 72, 144);
HALVO_ABI(offsetof(NPPluginFuncs, getsiteswithdata), 76, 152);
HALVO_ABI(offsetof(NPNetscapeFuncs, size), 0, 0);
HALVO_ABI(offsetof(NPNetscapeFuncs, version), 2, 2);
HALVO_ABI(offsetof(NPNetscapeFuncs, geturl), 4, 8);
HALVO_ABI(offsetof(NPNetscapeFuncs, posturl), 8, 16);
HALVO_ABI(offsetof(NPNetscapeFuncs, requestread), 12, 24);
HALVO_ABI(offsetof(NPNetscapeFuncs, newstream), 16, 32);
HALVO_ABI(offsetof(NPNetscapeFuncs, write), 20, 40);
HALVO_ABI(offsetof(NPNetscapeFuncs, destroystream), 24, 48);
HALVO_ABI(offsetof(NPNetscapeFuncs, status), 28, 56);
HALVO_ABI(offsetof(NPNetscapeFuncs, uagent), 32, 64);
HALVO_ABI(offsetof(NPNetscapeFuncs, memalloc), 36, 72);
HALVO_ABI(offsetof(NPNetscapeFuncs, memfree), 40, 80);
HALVO_ABI(offsetof(NPNetscapeFuncs, memflush), 44, 88);
HALVO_ABI(offsetof(NPNetscapeFuncs, reloadplugins), 48, 96);
HALVO_ABI(offsetof(NPNetscapeFuncs, getJavaEnv), 52, 104);
HALVO_ABI(offsetof(NPNetscapeFuncs, getJavaPeer), 56, 112);
HALVO_ABI(offsetof(NPNetscapeFuncs, geturlnotify), 60, 120);
HALVO_ABI(offsetof(NPNetscapeFuncs, posturlnotify), 64, 128);
HALVO_ABI(offsetof(NPNetscapeFuncs, getvalue), 68, 136);
HALVO_ABI(offsetof(NPNetscapeFuncs, setvalue), 72, 144);
HALVO_ABI(offsetof(NPNetscapeFuncs, invalidaterect), 76, 152);
HALVO_ABI(offsetof(NPNetscapeFuncs, invalidateregion), 80, 160);
HALVO_ABI(offsetof(NPNetscapeFuncs, forceredraw), 84, 168);
HALVO_ABI(offsetof(NPNetscapeFuncs, getstringidentifier), 88, 176);
HALVO_ABI(offsetof(NPNetscapeFuncs, getstringidentifiers), 92, 184);
HALVO_ABI(offsetof(NPNetscapeFuncs, getintidentifier), 96, 192);
HALVO_ABI(offsetof(NPNetscapeFuncs, identifierisstring), 100, 200);
HALVO_ABI(offsetof(NPNetscapeFuncs, utf8fromidentifier), 104, 208);
HALVO_ABI(offsetof(NPNetscapeFuncs, intfromidentifier), 108, 216);
HALVO_ABI(offsetof(NPNetscapeFuncs, createobject), 112, 224);
HALVO_ABI(offsetof(NPNetscapeFuncs, retainobject), 116, 232);
HALVO_ABI(offsetof(NPNetscapeFuncs, releaseobject), 120, 240);
HALVO_ABI(offsetof(NPNetscapeFuncs, invoke), 124, 248);
HALVO_ABI(offsetof(NPNetscapeFuncs, invokeDefault), 128, 256);
HALVO_ABI(offsetof(NPNetscapeFuncs, evaluate), 132, 264);
HALVO_ABI(offsetof(NPNetscapeFuncs, getproperty), 136, 272);
HALVO_ABI(offsetof(NPNetscapeFuncs, setproperty), 140, 280);
HALVO_ABI(offsetof(NPNetscapeFuncs, removeproperty), 144, 288);
HALVO_ABI(offsetof(NPNetscapeFuncs, hasproperty), 148, 296);
HALVO_ABI(offsetof(NPNetscapeFuncs, hasmethod), 152, 304);
HALVO_ABI(offsetof(NPNetscapeFuncs, releasevariantvalue), 156, 312);
HALVO_ABI(offsetof(NPNetscapeFuncs, setexception), 160, 320);
HALVO_ABI(offsetof(NPNetscapeFuncs, pushpopupsenabledstate), 164, 328);
HALVO_ABI(offsetof(NPNetscapeFuncs, poppopupsenabledstate), 168, 336);
HALVO_ABI(offsetof(NPNetscapeFuncs, enumerate), 172, 344);
HALVO_ABI(offsetof(NPNetscapeFuncs, pluginthreadasynccall), 176, 352);
HALVO_ABI(offsetof(NPNetscapeFuncs, construct), 180, 360);
HALVO_ABI(offsetof(NPNetscapeFuncs, getvalueforurl), 184, 368);
HALVO_ABI(offsetof(NPNetscapeFuncs, setvalueforurl), 188, 376);
HALVO_ABI(offsetof(NPNetscapeFuncs, getauthenticationinfo), 192, 384);
HALVO_ABI(offsetof(NPNetscapeFuncs, scheduletimer), 196, 392);
HALVO_ABI(offsetof(NPNetscapeFuncs, unscheduletimer), 200, 400);
HALVO_ABI(offsetof(NPNetscapeFuncs, popupcontextmenu), 204, 408);
HALVO_ABI(offsetof(NPNetscapeFuncs, convertpoint), 208, 416);
HALVO_ABI(offsetof(NPNetscapeFuncs, handleevent), 212, 424);
HALVO_ABI(offsetof(NPNetscapeFuncs, unfocusinstance), 216, 432);
HALVO_ABI(offsetof(NPNetscapeFuncs, urlredirectresponse), 220, 440);
HALVO_ABI((long long)(NPERR_NO_ERROR), 0, 0);
HALVO_ABI((long long)(NPERR_GENERIC_ERROR), 1, 1);
HALVO_ABI((long long)(NPERR_INVALID_INSTANCE_ERROR), 2, 2);
HALVO_ABI((long long)(NPERR_INVALID_FUNCTABLE_ERROR), 3, 3);
HALVO_ABI((long long)(NPERR_MODULE_LOAD_FAILED_ERROR), 4, 4);
HALVO_ABI((long long)(NPERR_OUT_OF_MEMORY_ERROR), 5, 5);
HALVO_ABI((long long)(NPERR_INVALID_PLUGIN_ERROR), 6, 6);
HALVO_ABI((long long)(NPERR_INVALID_PLUGIN_DIR_ERROR), 7, 7);
HALVO_ABI((long long)(NPERR_INCOMPATIBLE_VERSION_ERROR), 8, 8);
HALVO_ABI((long long)(NPERR_INVALID_PARAM), 9, 9);
HALVO_ABI((long long)(NPPVpluginNameString), 1, 1);
HALVO_ABI((long long)(NPPVpluginDescriptionString), 2, 2);
HALVO_ABI((long long)(NPPVpluginWindowBool), 3, 3);
HALVO_ABI((long long)(NPPVpluginTransparentBool), 4, 4);
HALVO_ABI((long long)(NPPVpluginNeedsXEmbed), 14, 14);
HALVO_ABI((long long)(NPPVpluginScriptableNPObject), 15, 15);
HALVO_ABI((long long)(NPNVxDisplay), 1, 1);
HALVO_ABI((long long)(NPNVWindowNPObject), 15, 15);
HALVO_ABI((long long)(NPNVPluginElementNPObject), 16, 16);
HALVO_ABI((long long)(NPVariantType_Void), 0, 0);
HALVO_ABI((long long)(NPVariantType_Null), 1, 1);
HALVO_ABI((long long)(NPVariantType_Bool), 2, 2);
HALVO_ABI((long long)(NPVariantType_Int32), 3, 3);
HALVO_ABI((long long)(NPVariantType_Double), 4, 4);
HALVO_ABI((long long)(NPVariantType_String), 5, 5);
HALVO_ABI((long long)(NPVariantType_Object), 6, 6);
HALVO_ABI((long long)(NP_CLASS_STRUCT_VERSION), 3, 3);
HALVO_ABI((long long)(NP_CLASS_STRUCT_VERSION_ENUM), 2, 2);
HALVO_ABI((long long)(NP_CLASS_STRUCT_VERSION_CTOR), 3, 3);
HALVO_ABI((long long)(NPWindowTypeWindow), 1, 1);
HALVO_ABI((long long)(NPWindowTypeDrawable), 2, 2);
HALVO_ABI((long long)(NP_EMBED), 1, 1);
HALVO_ABI((long long)(NP_FULL), 2, 2);
HALVO_ABI((long long)(NP_NORMAL), 1, 1);
HALVO_ABI((long long)(NP_SEEK), 2, 2);
HALVO_ABI((long long)(NP_ASFILE), 3, 3);
HALVO_ABI((long long)(NP_ASFILEONLY), 4, 4);
HALVO_ABI((long long)(NPRES_DONE), 0, 0);
HALVO_ABI((long long)(NPRES_NETWORK_ERR), 1, 1);
HALVO_ABI((long long)(NPRES_USER_BREAK), 2, 2);

static_assert(std::is_same<decltype(NPPluginFuncs::size), uint16_t>::value, "NPPluginFuncs.size");
static_assert(std::is_same<decltype(NPPluginFuncs::version), uint16_t>::value, "NPPluginFuncs.version");
static_assert(std::is_same<decltype(NPPluginFuncs::newp), NPError (*)(NPMIMEType, NPP, uint16_t, int16_t, char**, char**, NPSavedData*)>::value, "NPPluginFuncs.newp");
static_assert(std::is_same<decltype(NPPluginFuncs::destroy), NPError (*)(NPP, NPSavedData**)>::value, "NPPluginFuncs.destroy");
static_assert(std::is_same<decltype(NPPluginFuncs::setwindow), NPError (*)(NPP, NPWindow*)>::value, "NPPluginFuncs.setwindow");
static_assert(std::is_same<decltype(NPPluginFuncs::newstream), NPError (*)(NPP, NPMIMEType, NPStream*, NPBool, uint16_t*)>::value, "NPPluginFuncs.newstream");
static_assert(std::is_same<decltype(NPPluginFuncs::destroystream), NPError (*)(NPP, NPStream*, NPReason)>::value, "NPPluginFuncs.destroystream");
static_assert(std::is_same<decltype(NPPluginFuncs::asfile), void (*)(NPP, NPStream*, const char*)>::value, "NPPluginFuncs.asfile");
static_assert(std::is_same<decltype(NPPluginFuncs::writeready), int32_t (*)(NPP, NPStream*)>::value, "NPPluginFuncs.writeready");
static_assert(std::is_same<decltype(NPPluginFuncs::write), int32_t (*)(NPP, NPStream*, int32_t, int32_t, void*)>::value, "NPPluginFuncs.write");
static_assert(std::is_same<decltype(NPPluginFuncs::print), void (*)(NPP, NPPrint*)>::value, "NPPluginFuncs.print");
static_assert(std::is_same<decltype(NPPluginFuncs::event), int16_t (*)(NPP, void*)>::value, "NPPluginFuncs.event");
static_assert(std::is_same<decltype(NPPluginFuncs::urlnotify), void (*)(NPP, const char*, NPReason, void*)>::value, "NPPluginFuncs.urlnotify");
static_assert(std::is_same<decltype(NPPluginFuncs::javaClass), void*>::value, "NPPluginFuncs.javaClass");
static_assert(std::is_same<decltype(NPPluginFuncs::getvalue), NPError (*)(NPP, NPPVariable, void*)>::value, "NPPluginFuncs.getvalue");
static_assert(std::is_same<decltype(NPPluginFuncs::setvalue), NPError (*)(NPP, NPNVariable, void*)>::value, "NPPluginFuncs.setvalue");
static_assert(std::is_same<decltype(NPPluginFuncs::gotfocus), NPBool (*)(NPP, NPFocusDirection)>::value, "NPPluginFuncs.gotfocus");
static_assert(std::is_same<decltype(NPPluginFuncs::lostfocus), void (*)(NPP)>::value, "NPPluginFuncs.lostfocus");
static_assert(std::is_same<decltype(NPPluginFuncs::urlredirectnotify), void (*)(NPP, const char*, int32_t, void*)>::value, "NPPluginFuncs.urlredirectnotify");
static_assert(std::is_same<decltype(NPPluginFuncs::clearsitedata), NPError (*)(const char*, uint64_t, uint64_t)>::value, "NPPluginFuncs.clearsitedata");
static_assert(std::is_same<decltype(NPPluginFuncs::getsiteswithdata), char** (*)()>::value, "NPPluginFuncs.getsiteswithdata");
static_assert(std::is_same<decltype(NPPluginFuncs::didComposite), void (*)(NPP)>::value, "NPPluginFuncs.didComposite");
static_assert(std::is_same<decltype(NPNetscapeFuncs::size), uint16_t>::value, "NPNetscapeFuncs.size");
static_assert(std::is_same<decltype(NPNetscapeFuncs::version), uint16_t>::value, "NPNetscapeFuncs.version");
static_assert(std::is_same<decltype(NPNetscapeFuncs::geturl), NPError (*)(NPP, const char*, const char*)>::value, "NPNetscapeFuncs.geturl");
static_assert(std::is_same<decltype(NPNetscapeFuncs::posturl), NPError (*)(NPP, const char*, const char*, uint32_t, const char*, NPBool)>::value, "NPNetscapeFuncs.posturl");
static_assert(std::is_same<decltype(NPNetscapeFuncs::requestread), NPError (*)(NPStream*, NPByteRange*)>::value, "NPNetscapeFuncs.requestread");
static_assert(std::is_same<decltype(NPNetscapeFuncs::newstream), NPError (*)(NPP, NPMIMEType, const char*, NPStream**)>::value, "NPNetscapeFuncs.newstream");
static_assert(std::is_same<decltype(NPNetscapeFuncs::write), int32_t (*)(NPP, NPStream*, int32_t, void*)>::value, "NPNetscapeFuncs.write");
static_assert(std::is_same<decltype(NPNetscapeFuncs::destroystream), NPError (*)(NPP, NPStream*, NPReason)>::value, "NPNetscapeFuncs.destroystream");
static_assert(std::is_same<decltype(NPNetscapeFuncs::status), void (*)(NPP, const char*)>::value, "NPNetscapeFuncs.status");
static_assert(std::is_same<decltype(NPNetscapeFuncs::uagent), const char* (*)(NPP)>::value, "NPNetscapeFuncs.uagent");
static_assert(std::is_same<decltype(NPNetscapeFuncs::memalloc), void* (*)(uint32_t)>::value, "NPNetscapeFuncs.memalloc");
static_assert(std::is_same<decltype(NPNetscapeFuncs::memfree), void (*)(void*)>::value, "NPNetscapeFuncs.memfree");
static_assert(std::is_same<decltype(NPNetscapeFuncs::memflush), uint32_t (*)(uint32_t)>::value, "NPNetscapeFuncs.memflush");
static_assert(std::is_same<decltype(NPNetscapeFuncs::reloadplugins), void (*)(NPBool)>::value, "NPNetscapeFuncs.reloadplugins");
static_assert(std::is_same<decltype(NPNetscapeFuncs::getJavaEnv), void* (*)()>::value, "NPNetscapeFuncs.getJavaEnv");
static_assert(std::is_same<decltype(NPNetscapeFuncs::getJavaPeer), void* (*)(NPP)>::value, "NPNetscapeFuncs.getJavaPeer");
static_assert(std::is_same<decltype(NPNetscapeFuncs::geturlnotify), NPError (*)(NPP, const char*, const char*, void*)>::value, "NPNetscapeFuncs.geturlnotify");
static_assert(std::is_same<decltype(NPNetscapeFuncs::posturlnotify), NPError (*)(NPP, const char*, const char*, uint32_t, const char*, NPBool, void*)>::value, "NPNetscapeFuncs.posturlnotify");
static_assert(std::is_same<decltype(NPNetscapeFuncs::getvalue), NPError (*)(NPP, NPNVariable, void*)>::value, "NPNetscapeFuncs.getvalue");
static_assert(std::is_same<decltype(NPNetscapeFuncs::setvalue), NPError (*)(NPP, NPPVariable, void*)>::value, "NPNetscapeFuncs.setvalue");
static_assert(std::is_same<decltype(NPNetscapeFuncs::invalidaterect), void (*)(NPP, NPRect*)>::value, "NPNetscapeFuncs.invalidaterect");
static_assert(std::is_same<decltype(NPNetscapeFuncs::invalidateregion), void (*)(NPP, NPRegion)>::value, "NPNetscapeFuncs.invalidateregion");
static_assert(std::is_same<decltype(NPNetscapeFuncs::forceredraw), void (*)(NPP)>::value, "NPNetscapeFuncs.forceredraw");
static_assert(std::is_same<decltype(NPNetscapeFuncs::getstringidentifier), NPIdentifier (*)(const NPUTF8*)>::value, "NPNetscapeFuncs.getstringidentifier");
static_assert(std::is_same<decltype(NPNetscapeFuncs::getstringidentifiers), void (*)(const NPUTF8**, int32_t, NPIdentifier*)>::value, "NPNetscapeFuncs.getstringidentifiers");
static_assert(std::is_same<decltype(NPNetscapeFuncs::getintidentifier), NPIdentifier (*)(int32_t)>::value, "NPNetscapeFuncs.getintidentifier");
static_assert(std::is_same<decltype(NPNetscapeFuncs::identifierisstring), bool (*)(NPIdentifier)>::value, "NPNetscapeFuncs.identifierisstring");
static_assert(std::is_same<decltype(NPNetscapeFuncs::utf8fromidentifier), NPUTF8* (*)(NPIdentifier)>::value, "NPNetscapeFuncs.utf8fromidentifier");
static_assert(std::is_same<decltype(NPNetscapeFuncs::intfromidentifier), int32_t (*)(NPIdentifier)>::value, "NPNetscapeFuncs.intfromidentifier");
static_assert(std::is_same<decltype(NPNetscapeFuncs::createobject), NPObject* (*)(NPP, NPClass*)>::value, "NPNetscapeFuncs.createobject");
static_assert(std::is_same<decltype(NPNetscapeFuncs::retainobject), NPObject* (*)(NPObject*)>::value, "NPNetscapeFuncs.retainobject");
static_assert(std::is_same<decltype(NPNetscapeFuncs::releaseobject), void (*)(NPObject*)>::value, "NPNetscapeFuncs.releaseobject");
static_assert(std::is_same<decltype(NPNetscapeFuncs::invoke), bool (*)(NPP, NPObject*, NPIdentifier, const NPVariant*, uint32_t, NPVariant*)>::value, "NPNetscapeFuncs.invoke");
static_assert(std::is_same<decltype(NPNetscapeFuncs::invokeDefault), bool (*)(NPP, NPObject*, const NPVariant*, uint32_t, NPVariant*)>::value, "NPNetscapeFuncs.invokeDefault");
static_assert(std::is_same<decltype(NPNetscapeFuncs::evaluate), bool (*)(NPP, NPObject*, NPString*, NPVariant*)>::value, "NPNetscapeFuncs.evaluate");
static_assert(std::is_same<decltype(NPNetscapeFuncs::getproperty), bool (*)(NPP, NPObject*, NPIdentifier, NPVariant*)>::value, "NPNetscapeFuncs.getproperty");
static_assert(std::is_same<decltype(NPNetscapeFuncs::setproperty), bool (*)(NPP, NPObject*, NPIdentifier, const NPVariant*)>::value, "NPNetscapeFuncs.setproperty");
static_assert(std::is_same<decltype(NPNetscapeFuncs::removeproperty), bool (*)(NPP, NPObject*, NPIdentifier)>::value, "NPNetscapeFuncs.removeproperty");
static_assert(std::is_same<decltype(NPNetscapeFuncs::hasproperty), bool (*)(NPP, NPObject*, NPIdentifier)>::value, "NPNetscapeFuncs.hasproperty");
static_assert(std::is_same<decltype(NPNetscapeFuncs::hasmethod), bool (*)(NPP, NPObject*, NPIdentifier)>::value, "NPNetscapeFuncs.hasmethod");
static_assert(std::is_same<decltype(NPNetscapeFuncs::releasevariantvalue), void (*)(NPVariant*)>::value, "NPNetscapeFuncs.releasevariantvalue");
static_assert(std::is_same<decltype(NPNetscapeFuncs::setexception), void (*)(NPObject*, const NPUTF8*)>::value, "NPNetscapeFuncs.setexception");
static_assert(std::is_same<decltype(NPNetscapeFuncs::pushpopupsenabledstate), void (*)(NPP, NPBool)>::value, "NPNetscapeFuncs.pushpopupsenabledstate");
static_assert(std::is_same<decltype(NPNetscapeFuncs::poppopupsenabledstate), void (*)(NPP)>::value, "NPNetscapeFuncs.poppopupsenabledstate");
static_assert(std::is_same<decltype(NPNetscapeFuncs::enumerate), bool (*)(NPP, NPObject*, NPIdentifier**, uint32_t*)>::value, "NPNetscapeFuncs.enumerate");
static_assert(std::is_same<decltype(NPNetscapeFuncs::pluginthreadasynccall), void (*)(NPP, void (*)(void*), void*)>::value, "NPNetscapeFuncs.pluginthreadasynccall");
static_assert(std::is_same<decltype(NPNetscapeFuncs::construct), bool (*)(NPP, NPObject*, const NPVariant*, uint32_t, NPVariant*)>::value, "NPNetscapeFuncs.construct");
static_assert(std::is_same<decltype(NPNetscapeFuncs::getvalueforurl), NPError (*)(NPP, NPNURLVariable, const char*, char**, uint32_t*)>::value, "NPNetscapeFuncs.getvalueforurl");
static_assert(std::is_same<decltype(NPNetscapeFuncs::setvalueforurl), NPError (*)(NPP, NPNURLVariable, const char*, const char*, uint32_t)>::value, "NPNetscapeFuncs.setvalueforurl");
static_assert(std::is_same<decltype(NPNetscapeFuncs::getauthenticationinfo), NPError (*)(NPP, const char*, const char*, int32_t, const char*, const char*, char**, uint32_t*, char**, uint32_t*)>::value, "NPNetscapeFuncs.getauthenticationinfo");
static_assert(std::is_same<decltype(NPNetscapeFuncs::scheduletimer), uint32_t (*)(NPP, uint32_t, NPBool, void (*)(NPP, uint32_t))>::value, "NPNetscapeFuncs.scheduletimer");
static_assert(std::is_same<decltype(NPNetscapeFuncs::unscheduletimer), void (*)(NPP, uint32_t)>::value, "NPNetscapeFuncs.unscheduletimer");
static_assert(std::is_same<decltype(NPNetscapeFuncs::popupcontextmenu), NPError (*)(NPP, NPMenu*)>::value, "NPNetscapeFuncs.popupcontextmenu");
static_assert(std::is_same<decltype(NPNetscapeFuncs::convertpoint), NPBool (*)(NPP, double, double, NPCoordinateSpace, double*, double*, NPCoordinateSpace)>::value, "NPNetscapeFuncs.convertpoint");
static_assert(std::is_same<decltype(NPNetscapeFuncs::handleevent), NPBool (*)(NPP, void*, NPBool)>::value, "NPNetscapeFuncs.handleevent");
static_assert(std::is_same<decltype(NPNetscapeFuncs::unfocusinstance), NPBool (*)(NPP, NPFocusDirection)>::value, "NPNetscapeFuncs.unfocusinstance");
static_assert(std::is_same<decltype(NPNetscapeFuncs::urlredirectresponse), void (*)(NPP, void*, NPBool)>::value, "NPNetscapeFuncs.urlredirectresponse");
static_assert(std::is_same<decltype(NPNetscapeFuncs::initasyncsurface), NPError (*)(NPP, NPSize*, NPImageFormat, void*, NPAsyncSurface*)>::value, "NPNetscapeFuncs.initasyncsurface");
static_assert(std::is_same<decltype(NPNetscapeFuncs::finalizeasyncsurface), NPError (*)(NPP, NPAsyncSurface*)>::value, "NPNetscapeFuncs.finalizeasyncsurface");
static_assert(std::is_same<decltype(NPNetscapeFuncs::setcurrentasyncsurface), void (*)(NPP, NPAsyncSurface*, NPRect*)>::value, "NPNetscapeFuncs.setcurrentasyncsurface");
static_assert(std::is_same<NPAllocateFunctionPtr, NPObject* (*)(NPP, NPClass*)>::value, "npruntime.NPAllocateFunctionPtr");
static_assert(std::is_same<NPDeallocateFunctionPtr, void (*)(NPObject*)>::value, "npruntime.NPDeallocateFunctionPtr");
static_assert(std::is_same<NPInvalidateFunctionPtr, void (*)(NPObject*)>::value, "npruntime.NPInvalidateFunctionPtr");
static_assert(std::is_same<NPHasMethodFunctionPtr, bool (*)(NPObject*, NPIdentifier)>::value, "npruntime.NPHasMethodFunctionPtr");
static_assert(std::is_same<NPInvokeFunctionPtr, bool (*)(NPObject*, NPIdentifier, const NPVariant*, uint32_t, NPVariant*)>::value, "npruntime.NPInvokeFunctionPtr");
static_assert(std::is_same<NPInvokeDefaultFunctionPtr, bool (*)(NPObject*, const NPVariant*, uint32_t, NPVariant*)>::value, "npruntime.NPInvokeDefaultFunctionPtr");
static_assert(std::is_same<NPHasPropertyFunctionPtr, bool (*)(NPObject*, NPIdentifier)>::value, "npruntime.NPHasPropertyFunctionPtr");
static_assert(std::is_same<NPGetPropertyFunctionPtr, bool (*)(NPObject*, NPIdentifier, NPVariant*)>::value, "npruntime.NPGetPropertyFunctionPtr");
static_assert(std::is_same<NPSetPropertyFunctionPtr, bool (*)(NPObject*, NPIdentifier, const NPVariant*)>::value, "npruntime.NPSetPropertyFunctionPtr");
static_assert(std::is_same<NPRemovePropertyFunctionPtr, bool (*)(NPObject*, NPIdentifier)>::value, "npruntime.NPRemovePropertyFunctionPtr");
static_assert(std::is_same<NPEnumerationFunctionPtr, bool (*)(NPObject*, NPIdentifier**, uint32_t*)>::value, "npruntime.NPEnumerationFunctionPtr");
static_assert(std::is_same<NPConstructFunctionPtr, bool (*)(NPObject*, const NPVariant*, uint32_t, NPVariant*)>::value, "npruntime.NPConstructFunctionPtr");

/* The exports: __stdcall on 32-bit Windows. */
static_assert(std::is_same<decltype(&NP_GetEntryPoints), NPError(__stdcall*)(NPPluginFuncs*)>::value, "NP_GetEntryPoints");
static_assert(std::is_same<decltype(&NP_Initialize), NPError(__stdcall*)(NPNetscapeFuncs*)>::value, "NP_Initialize");
static_assert(std::is_same<decltype(&NP_Shutdown), NPError(__stdcall*)()>::value, "NP_Shutdown");
static_assert(std::is_same<decltype(&NP_GetMIMEDescription), const char* (*)()>::value, "NP_GetMIMEDescription");

#undef HALVO_ABI
#endif /* HALVO_NPAPI_ABI_CHECKS_H */
