/* The module library's code comes whole from the service's static library;
   this file only gives the library target a source of its own. What it
   exports is fixed by module.map: DllGetClassObject, DllCanUnloadNow,
   DllRegisterServer and DllUnregisterServer. */
typedef int kx_module_exports_translation_unit;
