# Checks that the 32-bit plug-in loads on Windows XP, the oldest Windows of the hosts it serves:
#   cmake -DOBJDUMP=... -DNM=... -DIMAGE=Voxlum.mll -DOWN_CODE="a.a|b.obj" -P InspectXpImports.cmake
# XP's loader refuses a module that imports a function its system DLLs lack, before any code
# runs. The project's own code (OWN_CODE: its libraries and objects) must import none of the
# functions Windows gained later; newer ones are looked up at run time instead. The whole
# image is checked against the same list, except for what the compiler's runtime brings in
# (KNOWN_RUNTIME_IMPORTS), which is reported.
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ObjdumpLines.cmake)

# kernel32 functions of Windows Vista and later that compilers and runtimes are known to reach
# for. msvcrt.dll gained its "_s" functions with Vista too.
set(newer_than_xp
    AcquireSRWLockExclusive AcquireSRWLockShared AddDllDirectory CancelIoEx
    CloseThreadpoolWork CompareStringEx CopyFile2 CreateEventExA CreateEventExW CreateFile2
    CreateMutexExA CreateMutexExW CreateSemaphoreExA CreateSemaphoreExW CreateSymbolicLinkA
    CreateSymbolicLinkW CreateThreadpoolWork FlsAlloc FlsFree FlsGetValue FlsSetValue
    FlushProcessWriteBuffers GetCurrentProcessorNumber GetCurrentProcessorNumberEx GetErrorMode
    GetFileInformationByHandleEx GetFinalPathNameByHandleA GetFinalPathNameByHandleW
    GetLocaleInfoEx GetLogicalProcessorInformationEx GetQueuedCompletionStatusEx
    GetSystemTimePreciseAsFileTime GetThreadId GetTickCount64 GetUserDefaultLocaleName
    InitializeConditionVariable InitializeCriticalSectionEx InitializeSRWLock
    InitOnceBeginInitialize InitOnceComplete InitOnceExecuteOnce LCMapStringEx
    QueryFullProcessImageNameA QueryFullProcessImageNameW QueryThreadCycleTime
    RaiseFailFastException ReleaseSRWLockExclusive ReleaseSRWLockShared RemoveDllDirectory
    SetDefaultDllDirectories SetFileInformationByHandle SetThreadErrorMode
    SleepConditionVariableCS SleepConditionVariableSRW SubmitThreadpoolWork
    TryAcquireSRWLockExclusive TryAcquireSRWLockShared WaitForThreadpoolWorkCallbacks
    WakeAllConditionVariable WakeConditionVariable)
# MinGW-w64's winpthreads (linked into the module with the C++ runtime) calls GetTickCount64.
set(known_runtime_imports GetTickCount64)

# newer_names(<out> <names>...): those of `names` that XP lacks.
function(newer_names out)
  set(found "")
  foreach(name IN LISTS ARGN)
    if(name IN_LIST newer_than_xp OR name MATCHES "_s$")
      list(APPEND found "${name}")
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# The image's imported function names, and DLLs that XP does not have.
objdump_lines(lines -p ${IMAGE})
set(image_imports "")
set(image_dlls "")
foreach(line IN LISTS lines)
  if(line MATCHES "^\tDLL Name: (.+)$")
    list(APPEND image_dlls "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^\t[0-9a-f]+[ \t]+[0-9]+[ \t]+([A-Za-z_][A-Za-z0-9_]*)$")
    list(APPEND image_imports "${CMAKE_MATCH_1}")
  endif()
endforeach()
if(NOT image_imports)
  message(FATAL_ERROR "no imported functions found in ${IMAGE}")
endif()
list(FILTER image_dlls INCLUDE REGEX "^[Aa][Pp][Ii]-[Mm][Ss]-")
if(image_dlls)
  message(FATAL_ERROR "${IMAGE} imports Windows 7 API sets: [${image_dlls}]")
endif()

# What the project's own code imports: its undefined __imp_ symbols (stdcall decorations off).
string(REPLACE "|" ";" own_code "${OWN_CODE}")
set(own_imports "")
foreach(file IN LISTS own_code)
  execute_process(COMMAND ${NM} -u ${file} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${NM} -u ${file} failed")
  endif()
  string(REGEX MATCHALL "__imp__[A-Za-z_][A-Za-z0-9_]*" names "${symbols}")
  foreach(name IN LISTS names)
    string(REGEX REPLACE "^__imp__" "" name "${name}")
    list(APPEND own_imports "${name}")
  endforeach()
endforeach()
list(REMOVE_DUPLICATES own_imports)

newer_names(own_newer ${own_imports})
if(own_newer)
  message(FATAL_ERROR "the project's own code imports functions Windows XP lacks: [${own_newer}]")
endif()
newer_names(image_newer ${image_imports})
set(runtime_newer ${image_newer})
list(REMOVE_ITEM image_newer ${known_runtime_imports})
if(image_newer)
  message(FATAL_ERROR "${IMAGE} imports functions Windows XP lacks: [${image_newer}]")
endif()
message(STATUS "own code imports ${own_imports}: nothing newer than XP; "
               "the compiler's runtime adds [${runtime_newer}]")
