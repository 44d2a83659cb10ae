// The host suites an effect may reach, in the order they are released. One row per name and
// version: X(accessor, name, version, function table type or void where the effect has none).
// Accessors are named by the version asked for; the tables are the SDK's records, which are
// numbered by their own sequence ("AEGP Stream Suite" 9 is AEGP_StreamSuite4).
#pragma once
#include "AE_EffectCBSuites.h"
#include "AE_EffectSuites.h"
#include "AE_GeneralPlug.h"

// clang-format off
#define VEXO_SUITE_TABLE(X) \
    X(MarkerSuite1, "AEGP Marker Suite", 1, void) \
    X(MarkerSuite2, "AEGP Marker Suite", 2, void) \
    X(MarkerSuite3, "AEGP Marker Suite", 3, void) \
    X(LayerSuite8, "AEGP Layer Suite", 8, void) \
    X(LayerSuite10, "AEGP Layer Suite", 10, void) \
    X(StreamSuite10, "AEGP Stream Suite", 10, void) \
    X(StreamSuite9, "AEGP Stream Suite", 9, AEGP_StreamSuite4) \
    X(StreamSuite8, "AEGP Stream Suite", 8, void) \
    X(StreamSuite7, "AEGP Stream Suite", 7, AEGP_StreamSuite2) \
    X(StreamSuite4, "AEGP Stream Suite", 4, void) \
    X(DynamicStreamSuite2, "AEGP Dynamic Stream Suite", 2, AEGP_DynamicStreamSuite2) \
    X(DynamicStreamSuite3, "AEGP Dynamic Stream Suite", 3, void) \
    X(DynamicStreamSuite5, "AEGP Dynamic Stream Suite", 5, void) \
    X(KeyframeSuite4, "AEGP Keyframe Suite", 4, void) \
    X(KeyframeSuite3, "AEGP Keyframe Suite", 3, void) \
    X(KeyframeSuite1, "AEGP Keyframe Suite", 1, void) \
    X(CompSuite9, "AEGP Comp Suite", 9, void) \
    X(CompSuite11, "AEGP Comp Suite", 11, void) \
    X(CompSuite14, "AEGP Comp Suite", 14, void) \
    X(CompSuite15, "AEGP Comp Suite", 15, void) \
    X(CompSuite18, "AEGP Comp Suite", 18, void) \
    X(CompSuite19, "AEGP Comp Suite", 19, void) \
    X(CompSuite21, "AEGP Comp Suite", 21, void) \
    X(CompSuite25, "AEGP Comp Suite", 25, void) \
    X(CanvasSuite10, "AEGP Canvas Suite", 10, void) \
    X(CanvasSuite11, "AEGP Canvas Suite", 11, void) \
    X(CanvasSuite13, "AEGP Canvas Suite", 13, void) \
    X(CanvasSuite14, "AEGP Canvas Suite", 14, void) \
    X(CameraSuite2, "AEGP Camera Suite", 2, void) \
    X(RegisterSuite6, "AEGP Register Suite", 6, void) \
    X(ItemViewSuite1, "AEGP Item View Suite", 1, void) \
    X(ItemSuite13, "AEGP Item Suite", 13, void) \
    X(ItemSuite11, "AEGP Item Suite", 11, void) \
    X(ItemSuite10, "AEGP Item Suite", 10, void) \
    X(ItemSuite7, "AEGP Item Suite", 7, void) \
    X(ItemSuite3, "AEGP Item Suite", 3, void) \
    X(PFInterfaceSuite1, "AEGP PF Interface Suite", 1, AEGP_PFInterfaceSuite1) \
    X(MathSuite1, "AEGP Math Suite", 1, void) \
    X(AdvTimeSuite4, "PF AE Adv Time Suite", 4, void) \
    X(PathQuerySuite1, "PF Path Query Suite", 1, void) \
    X(MemorySuite1, "AEGP Memory Suite", 1, void) \
    X(PathDataSuite1, "PF Path Data Suite", 1, void) \
    X(ParamUtilsSuite3, "PF Param Utils Suite", 3, PF_ParamUtilsSuite3) \
    X(AppSuite6, "PF AE App Suite", 6, void) \
    X(AppSuite7, "PF AE App Suite", 7, void) \
    X(AppSuite1, "PF AE App Suite", 1, void) \
    X(AdvAppSuite2, "PF AE Adv App Suite", 2, void) \
    X(LightSuite1, "AEGP Light Suite", 1, void) \
    X(LightSuite2, "AEGP Light Suite", 2, void) \
    X(EffectSuite1, "AEGP Effect Suite", 1, void) \
    X(EffectSuite2, "AEGP Effect Suite", 2, AEGP_EffectSuite2) \
    X(EffectSuite3, "AEGP Effect Suite", 3, AEGP_EffectSuite3) \
    X(EffectSuite4, "AEGP Effect Suite", 4, void) \
    X(LayerMaskSuite5, "AEGP Layer Mask Suite", 5, void) \
    X(MaskOutlineSuite2, "AEGP Mask Outline Suite", 2, void) \
    X(MaskOutlineSuite3, "AEGP Mask Outline Suite", 3, void) \
    X(MaskOutlineSuite5, "AEGP Mask Outline Suite", 5, void) \
    X(CommandSuite1, "AEGP Command Suite", 1, void) \
    X(UtilitySuite7, "AEGP Utility Suite", 7, AEGP_UtilitySuite3) \
    X(RenderSuite1, "AEGP Render Suite", 1, void) \
    X(RenderSuite2, "AEGP Render Suite", 2, void) \
    X(RenderSuite3, "AEGP Render Suite", 3, void) \
    X(RenderSuite5, "AEGP Render Suite", 5, void) \
    X(RenderSuite8, "AEGP Render Suite", 8, void) \
    X(ANSICallbacksSuite1, "PF ANSI Suite", 1, PF_ANSICallbacksSuite1) \
    X(HandleSuite2, "PF Handle Suite", 2, PF_HandleSuite1) \
    X(FillMatteSuite2, "PF Fill Matte Suite", 2, void) \
    X(WorldTransformSuite1, "PF World Transform Suite", 1, void) \
    X(QueryXformSuite4, "AEGP QueryXform Suite", 4, void) \
    X(CompositeSuite4, "AEGP Composite Suite", 4, void) \
    X(PFWorldSuite1, "PF World Suite", 1, void) \
    X(IOInSuite5, "AEGP IO In Suite", 5, void) \
    X(IOOutSuite7, "AEGP IO Out Suite", 7, void) \
    X(RenderQueueSuite1, "AEGP Render Queue Suite", 1, void) \
    X(RenderQueueItemSuite3, "AEGP Render Queue Item Suite", 3, void) \
    X(OutputModuleSuite4, "AEGP Output Module Suite", 4, void) \
    X(FileImportManagerSuite3, "AEGP File Import Manager Suite", 3, void) \
    X(Sampling8Suite1, "PF Sampling8 Suite", 1, void) \
    X(Sampling16Suite1, "PF Sampling16 Suite", 1, void) \
    X(Iterate8Suite1, "PF Iterate8 Suite", 1, void) \
    X(Iterate16Suite1, "PF iterate16 Suite", 1, void) \
    X(IterateFloatSuite1, "PF iterateFloat Suite", 1, void) \
    X(CollectionSuite2, "AEGP Collection Suite", 2, void) \
    X(TextDocumentSuite1, "AEGP Text Document Suite", 1, void) \
    X(SoundDataSuite1, "AEGP Sound Data Suite", 1, void) \
    X(TextLayerSuite1, "AEGP Text Layer Suite", 1, void) \
    X(ArtisanUtilSuite1, "AEGP Artisan Util Suite", 1, void) \
    X(WorldSuite2, "AEGP World Suite", 2, void) \
    X(WorldSuite3, "AEGP World Suite", 3, void) \
    X(RenderOptionsSuite1, "AEGP Render Options Suite", 1, void) \
    X(TrackerSuite1, "AEGP Tracker Suite", 1, void) \
    X(TrackerUtilitySuite1, "AEGP Tracker Utility Suite", 1, void) \
    X(PluginHelperSuite2, "AE Plugin Helper Suite2", 2, void) \
    X(LayerSuite11, "AEGP Layer Suite", 11, void) \
    X(LayerSuite12, "AEGP Layer Suite", 12, void) \
    X(LayerSuite13, "AEGP Layer Suite", 13, void) \
    X(LayerSuite14, "AEGP Layer Suite", 14, void) \
    X(AdvItemSuite1, "PF AE Adv Item Suite", 1, void) \
    X(LayerSuite5, "AEGP Layer Suite", 5, void) \
    X(LayerMaskSuite2, "AEGP Layer Mask Suite", 2, void) \
    X(LayerMaskSuite6, "AEGP Layer Mask Suite", 6, void) \
    X(LayerMaskSuite7, "AEGP Layer Mask Suite", 7, void) \
    X(CompSuite4, "AEGP Comp Suite", 4, void) \
    X(CollectionSuite1, "AEGP Collection Suite", 1, void) \
    X(AdvAppSuite1, "PF AE Adv App Suite", 1, void) \
    X(UtilitySuite3, "AEGP Utility Suite", 3, void) \
    X(RenderOptionsSuite2, "AEGP Render Options Suite", 2, void) \
    X(LayerRenderOptionsSuite1, "AEGP Layer Render Options Suite", 1, void) \
    X(LayerRenderOptionsSuite2, "AEGP Layer Render Options Suite", 2, void) \
    X(RenderAsyncManagerSuite1, "AEGP Render Asyc Manager Suite", 1, void) \
    X(ProjSuite8, "AEGP Proj Suite", 8, void) \
    X(ProjSuite9, "AEGP Proj Suite", 9, void) \
    X(FootageSuite11, "AEGP Footage Suite", 11, void) \
    X(RenderQueueItemSuite4, "AEGP Render Queue Item Suite", 4, void) \
    X(UtilitySuite10, "AEGP Utility Suite", 10, void) \
    X(PersistentDataSuite4, "AEGP Persistent Data Suite", 4, void) \
    X(PersistentDataSuite3, "AEGP Persistent Data Suite", 3, void) \
    X(ColorSettingsSuite4, "PF Color Settings Suite", 4, void) \
    X(ColorSettingsSuite3, "PF Color Settings Suite", 3, void) \
    X(ColorSettingsSuite1, "PF Color Settings Suite", 1, void) \
    X(ColorParamSuite1, "PF ColorParamSuite", 1, void) \
    X(SamplingFloatSuite1, "PF SamplingFloat Suite", 1, void) \
    X(UtilitySuite11, "AEGP Utility Suite", 11, void) \
    X(UtilitySuite13, "AEGP Utility Suite", 13, void) \
    X(EffectCustomUISuite1, "PF Effect Custom UI Suite", 1, void) \
    X(EffectCustomUISuite2, "PF Effect Custom UI Suite", 2, void) \
    X(EffectCustomUIOverlayThemeSuite1, "PF Effect Custom UI Overlay Theme Suite", 1, void) \
    X(DrawbotDrawSuite1, "DRAWBOT Draw Suite", 1, void) \
    X(DrawbotSupplierSuite1, "DRAWBOT Supplier Suite", 1, void) \
    X(DrawbotSurfaceSuite2, "DRAWBOT Surface Suite", 2, void) \
    X(DrawbotPathSuite1, "DRAWBOT Path Suite", 1, void) \
    X(SuitesSuite2, "SP Suites Suite", 2, void)
// clang-format on
