// Calls the library through the declarations of VelnorApi.cs, as a .NET host does, against the
// simulated touchpad. It writes the simulator's state file (SYNCOM_SIM_STATE) before its first
// call, which loads the library and the simulator, and exits 1 at the first wrong answer.
using System;
using System.IO;
using Halvex.Touchpad;

static class VelnorApiCheck
{
    // The simulator reports the key's size as its bytes and terminator; the library fills a
    // buffer only when its capacity is larger than that size.
    const string Key = @"SYSTEM\CurrentControlSet\Enum\ACPI\VLN0100\dotnet host";
    const char Untouched = '\uFFFF';

    static void Expect(bool holds, string what)
    {
        if (!holds)
        {
            Console.Error.WriteLine("dotnet host: " + what);
            Environment.Exit(1);
        }
    }

    static void ExpectState(byte expected)
    {
        byte state = 0xAA;
        int answer = VelnorApi.GetTouchpadLaunchState(out state);
        Expect(answer == 1 && state == expected,
               "GetTouchpadLaunchState answered " + answer + " with " + state + ", not 1 with " +
               expected);
    }

    static void ExpectSet(byte state)
    {
        int answer = VelnorApi.SetTouchpadLaunchState(state);
        Expect(answer == 1, "SetTouchpadLaunchState(" + state + ") answered " + answer);
    }

    static char[] Filled(int length)
    {
        char[] buffer = new char[length];
        for (int i = 0; i < length; ++i)
        {
            buffer[i] = Untouched;
        }
        return buffer;
    }

    static int Main()
    {
        // A write past a buffer that faults ends its call in an exception under Mono.
        try
        {
            string stateFile = Environment.GetEnvironmentVariable("SYNCOM_SIM_STATE");
            Expect(!string.IsNullOrEmpty(stateFile), "SYNCOM_SIM_STATE names no state file");
            File.WriteAllText(stateFile, "state=off\nkey=" + Key + "\n");

            ExpectState(0);
            ExpectSet(1);
            ExpectState(1);
            ExpectSet(0);
            ExpectState(0);

            // A buffer one unit smaller than the smallest that takes the key is refused and
            // keeps every unit it had. It comes first: a declaration that lets the library
            // write past the buffer (a capacity in bytes, text other than UTF-16) shows here.
            char[] tooSmall = Filled(Key.Length + 1);
            Expect(VelnorApi.GetRegistryKey(tooSmall) == null,
                   "GetRegistryKey read a key into " + tooSmall.Length + " units");
            Expect(Array.TrueForAll(tooSmall, unit => unit == Untouched),
                   "a refused read changed the buffer: '" + new string(tooSmall) + "'");

            // The smallest buffer that takes the key: every unit past the key is set to zero.
            char[] fits = Filled(Key.Length + 2);
            string fitted = VelnorApi.GetRegistryKey(fits);
            Expect(fitted == Key && fits[Key.Length] == '\0' && fits[Key.Length + 1] == '\0',
                   "a buffer of " + fits.Length + " units holds '" + new string(fits) + "'");

            string key = VelnorApi.GetRegistryKey(new char[256]);
            Expect(key == Key, "GetRegistryKey(char[256]) read '" + key + "', not '" + Key + "'");

            Expect(VelnorApi.GetTouchpadRegistryKey(null, 256) == 0,
                   "GetTouchpadRegistryKey(null, 256) did not answer 0");
            Console.WriteLine("dotnet host: launch state off, on, off; registry key " + key);
        }
        catch (Exception e)
        {
            Expect(false, "a call threw " + e.GetType().Name + ": " + e.Message);
        }
        return 0;
    }
}
