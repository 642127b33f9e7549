#include "app/ProgramUnits.h"

#include "app/UrlHandlerU.h"
#include "classlib/Forms.h"
#include "audio/engine/AuClasses.h"
#include "audio/formats/optimfrog/OptimFROGDLL.h"
#include "audio/formats/tak/tak_decoder.h"
#include "png/PngCodec.h"
#include "tasks/AudioUnit.h"
#include "tasks/EventsManager.h"
#include "tasks/RecordUnit.h"
#include "toolkit/AlphaGraphics.h"
#include "toolkit/DbgUtils.h"
#include "toolkit/ImageCache.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/ShellDragDrop.h"
#include "toolkit/TextStyles.h"
#include "widgets/UniControls.h"
#include "widgets/UniForms.h"
#include "widgets/UniMenus.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"

void InitializeProgramUnits() {
  ClasslibInitialize();
  UniSysUtilsInitialize();    // the NT and XP flags
  UniSystemInitialize();      // the default code page
  UniFormsInitialize();       // the application helper and the wide character hook
  UniMenusInitialize();       // the pop-up list
  UniControlsInitialize();    // the window-destroy message, helper lists and window atoms
  DbgUtilsInitialize();       // diagnostics first: the rest of the toolkit logs through it
  AlphaGraphicsInitialize();  // AlphaBlend and GDI+
  TextStylesInitialize();     // the predefined text styles
  PngCodecInitialize();       // "PNG" registered with the picture class
  ShellDragDropInitialize();  // OLE and the clipboard formats of dragged files
  ImageCacheInitialize();     // the global ImageCache (skin pictures load on first use)
  EventsManagerInitialize();  // the event bus and its hidden window
  AuClassesInitialize();      // the library-loading lock and the floating-point control word
  OptimFROGDLLInitialize();   // the decoders loaded at start-up (missing ones are normal)
  TakDecoderInitialize();
  AudioUnitInitialize();      // the global AudioTools
  RecordUnitInitialize();     // the global Recorder
  UrlHandlerInitialize();     // the link commands of every rich text without its own handler
}

void FinalizeProgramUnits() {
  UrlHandlerFinalize();
  RecordUnitFinalize();
  AudioUnitFinalize();
  TakDecoderFinalize();
  OptimFROGDLLFinalize();
  AuClassesFinalize();
  EventsManagerFinalize();
  FreeLanguageManager();
  ImageCacheFinalize();
  ShellDragDropFinalize();
  PngCodecFinalize();
  TextStylesFinalize();
  AlphaGraphicsFinalize();
  DbgUtilsFinalize();
  UniControlsFinalize();
  UniMenusFinalize();
  UniFormsFinalize();
  UniSystemFinalize();
  UniSysUtilsFinalize();
  ClasslibFinalize();
}
