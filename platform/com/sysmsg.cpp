#include "com/sysmsg.h"

#include "com/wstr.h"

namespace {

struct Message {
  HRESULT code;
  const char16_t* text;
};

// The usual codes of this system, with texts in the words Windows uses.
constexpr Message kMessages[] = {
    {S_OK, u"The operation completed successfully."},
    {S_FALSE, u"Incorrect function."},
    {E_NOTIMPL, u"Not implemented"},
    {E_NOINTERFACE, u"No such interface supported"},
    {E_POINTER, u"Invalid pointer"},
    {E_ABORT, u"Operation aborted"},
    {E_FAIL, u"Unspecified error"},
    {E_UNEXPECTED, u"Catastrophic failure"},
    {E_BOUNDS, u"The operation attempted to access data outside the valid range"},
    {E_ACCESSDENIED, u"Access is denied."},
    {E_HANDLE, u"The handle is invalid."},
    {E_OUTOFMEMORY, u"Not enough memory resources are available to complete this operation."},
    {E_INVALIDARG, u"The parameter is incorrect."},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), u"The system cannot find the file specified."},
    {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), u"The system cannot find the path specified."},
    {HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES), u"The system cannot open the file."},
    {HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY),
     u"Not enough memory resources are available to process this command."},
    {HRESULT_FROM_WIN32(ERROR_INVALID_DATA), u"The data is invalid."},
    {HRESULT_FROM_WIN32(ERROR_BAD_LENGTH),
     u"The program issued a command but the command length is incorrect."},
    {HRESULT_FROM_WIN32(ERROR_WRITE_FAULT), u"The system cannot write to the specified device."},
    {HRESULT_FROM_WIN32(ERROR_READ_FAULT), u"The system cannot read from the specified device."},
    {HRESULT_FROM_WIN32(ERROR_HANDLE_EOF), u"Reached the end of the file."},
    {HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), u"The request is not supported."},
    {HRESULT_FROM_WIN32(ERROR_FILE_EXISTS), u"The file exists."},
    {HRESULT_FROM_WIN32(ERROR_DISK_FULL), u"There is not enough space on the disk."},
    {HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
     u"The data area passed to a system call is too small."},
    {HRESULT_FROM_WIN32(ERROR_INVALID_NAME),
     u"The filename, directory name, or volume label syntax is incorrect."},
    {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), u"The specified module could not be found."},
    {HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), u"The specified procedure could not be found."},
    {HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS),
     u"Cannot create a file when that file already exists."},
    {HRESULT_FROM_WIN32(ERROR_MORE_DATA), u"More data is available."},
    {HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS), u"No more data is available."},
    {HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW), u"Arithmetic result exceeded 32 bits."},
    {HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION),
     u"No mapping for the Unicode character exists in the target multi-byte code page."},
    {HRESULT_FROM_WIN32(ERROR_NOT_FOUND), u"Element not found."},
    {CLASS_E_NOAGGREGATION, u"Class does not support aggregation (or class object is remote)"},
    {CLASS_E_CLASSNOTAVAILABLE, u"ClassFactory cannot supply requested class"},
    {REGDB_E_READREGDB, u"Could not read key from registry"},
    {REGDB_E_WRITEREGDB, u"Could not write key to registry"},
    {REGDB_E_KEYMISSING, u"Could not find the key in the registry"},
    {REGDB_E_INVALIDVALUE, u"Invalid value for registry"},
    // The SAX reader's own failures (its library documents them).
    {static_cast<HRESULT>(0xC00CE501), u"The XML text is not well-formed."},
    {static_cast<HRESULT>(0xC00CE502), u"A document type declaration is not allowed."},
    {static_cast<HRESULT>(0xC00CE503), u"The XML text is larger than the reader accepts."},
    {static_cast<HRESULT>(0xC00CE504),
     u"The XML elements are nested deeper than the reader accepts."},
    {static_cast<HRESULT>(0xC00CE505), u"The XML text is not valid UTF-16."},
    {static_cast<HRESULT>(0xC00CE506), u"An entity declaration or external entity is not allowed."},
    {static_cast<HRESULT>(0xC00CE507), u"The XML file could not be opened."},
    // The object store's own failures (store/fwd.h names them).
    {static_cast<HRESULT>(0x8004B001), u"No object with that id exists in the object store."},
    {static_cast<HRESULT>(0x8004B002), u"The object was deleted."},
    {static_cast<HRESULT>(0x8004B003), u"The name is not known to the object store."},
    {static_cast<HRESULT>(0x8004B004), u"The value cannot be converted between these units."},
    {static_cast<HRESULT>(0x8004B005), u"The object store is closed."},
    {static_cast<HRESULT>(0x8004B006), u"The object store could not read or write its file."},
    {static_cast<HRESULT>(0x8004B007), u"The call does not fit the object store's transaction."},
    {static_cast<HRESULT>(0x8004B008),
     u"The value is locked, secured or held and cannot be changed."},
    {static_cast<HRESULT>(0x8004B009),
     u"The object store is busy: another process holds its write lock."},
    {static_cast<HRESULT>(0x8004B00A), u"The file is not an object store."},
    {REGDB_E_CLASSNOTREG, u"Class not registered"},
    {SELFREG_E_TYPELIB, u"Failed to register/unregister type library"},
    {SELFREG_E_CLASS, u"Failed to register/unregister class"},
    {MK_E_SYNTAX, u"Invalid syntax"},
    {CO_E_NOTINITIALIZED, u"CoInitialize has not been called."},
    {CO_E_CLASSSTRING, u"Invalid class string"},
    {CO_E_APPNOTFOUND, u"Application not found"},
    {CO_E_DLLNOTFOUND, u"DLL for class not found"},
    {CO_E_ERRORINDLL, u"Error in the DLL"},
    {CO_E_SERVER_EXEC_FAILURE, u"Server execution failed"},
    {DISP_E_UNKNOWNINTERFACE, u"Unknown interface."},
    {DISP_E_MEMBERNOTFOUND, u"Member not found."},
    {DISP_E_PARAMNOTFOUND, u"Parameter not found."},
    {DISP_E_TYPEMISMATCH, u"Type mismatch."},
    {DISP_E_UNKNOWNNAME, u"Unknown name."},
    {DISP_E_NONAMEDARGS, u"No named arguments."},
    {DISP_E_BADVARTYPE, u"Bad variable type."},
    {DISP_E_EXCEPTION, u"Exception occurred."},
    {DISP_E_OVERFLOW, u"Out of present range."},
    {DISP_E_BADINDEX, u"Invalid index."},
    {DISP_E_UNKNOWNLCID, u"Unknown language."},
    {DISP_E_ARRAYISLOCKED, u"Memory is locked."},
    {DISP_E_BADPARAMCOUNT, u"Invalid number of parameters."},
    {DISP_E_PARAMNOTOPTIONAL, u"Parameter not optional."},
    {DISP_E_BADCALLEE, u"Invalid callee."},
    {DISP_E_NOTACOLLECTION, u"Does not support a collection."},
    {DISP_E_DIVBYZERO, u"Division by zero."},
    {TYPE_E_LIBNOTREGISTERED, u"Library not registered."},
    {TYPE_E_ELEMENTNOTFOUND, u"Element not found."},
    {TYPE_E_CANTLOADLIBRARY, u"Error loading type library/DLL."},
    {STG_E_INVALIDFUNCTION, u"Unable to perform requested operation."},
    {STG_E_FILENOTFOUND, u"The file could not be found."},
    {STG_E_PATHNOTFOUND, u"The path could not be found."},
    {STG_E_ACCESSDENIED, u"Access Denied."},
    {STG_E_INVALIDHANDLE, u"Attempted an operation on an invalid object."},
    {STG_E_INSUFFICIENTMEMORY, u"There is insufficient memory available to complete operation."},
    {STG_E_INVALIDPOINTER, u"Invalid pointer error."},
    {STG_E_SEEKERROR, u"An error occurred during a seek operation."},
    {STG_E_WRITEFAULT, u"A disk error occurred during a write operation."},
    {STG_E_READFAULT, u"A disk error occurred during a read operation."},
    {STG_E_INVALIDPARAMETER, u"Invalid parameter error."},
    {STG_E_MEDIUMFULL, u"There is insufficient disk space to complete operation."},
    {STG_E_INVALIDFLAG, u"Invalid flag error."},
    {STG_E_REVERTED, u"The object has been invalidated by a subsequent change."},
};

}  // namespace

bool kx_lookup_system_message(HRESULT hr, std::u16string* text) {
  for (const Message& m : kMessages) {
    if (m.code == hr) {
      if (text != nullptr) *text = m.text;
      return true;
    }
  }
  return false;
}

std::u16string kx_system_message(HRESULT hr) {
  std::u16string text;
  if (kx_lookup_system_message(hr, &text)) return text;
  return kx_format(u"Unknown error 0x%0lX", static_cast<ULONG>(hr));
}
