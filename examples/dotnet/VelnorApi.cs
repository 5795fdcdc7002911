// VelnorApi's three exports as a .NET host declares them. Copy this file into the host.
//
// The library is 64-bit: the host process must be too (x64, or AnyCPU without "Prefer 32-bit").
// "VelnorApi" is found as VelnorApi.dll in the host's folder on Windows, and as
// libVelnorApi.so on the loader's path (LD_LIBRARY_PATH, or a dllmap under Mono) on Linux.
using System;
using System.Runtime.InteropServices;

namespace Halvex.Touchpad
{
    public static class VelnorApi
    {
        private const string Library = "VelnorApi";

        // Answers 1 and sets launchState to 1 (gesture on) or 0 (off); answers 0 on failure,
        // when launchState holds nothing the library wrote.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int GetTouchpadLaunchState(out byte launchState);

        // Switches the gesture on (nonzero) or off (0); answers 1 once the touchpad's driver
        // has persisted the new state, else 0.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int SetTouchpadLaunchState(byte launchState);

        // Copies the registry key as UTF-16 into buffer, then zero units up to capacity, and
        // answers 1; answers 0 with the buffer untouched when the key does not fit. capacity
        // counts UTF-16 units (chars), never bytes, and must not exceed buffer.Length.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl,
                   CharSet = CharSet.Unicode, ExactSpelling = true)]
        public static extern int GetTouchpadRegistryKey([In, Out] char[] buffer, int capacity);

        // The registry key read into the whole of buffer, or null when the library answered 0.
        public static string GetRegistryKey(char[] buffer)
        {
            if (GetTouchpadRegistryKey(buffer, buffer.Length) == 0)
            {
                return null;
            }
            int end = Array.IndexOf(buffer, '\0');
            return new string(buffer, 0, end < 0 ? buffer.Length : end);
        }
    }
}
