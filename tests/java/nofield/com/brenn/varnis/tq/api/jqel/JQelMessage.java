package com.brenn.varnis.tq.api.jqel;

/** A JQelMessage without the fields myQelDataString and myStringArray, as an outdated class might be. */
public class JQelMessage {
    static {
        System.loadLibrary("JQelAgtMsg");
    }

    public native int QelGetCMA(long handle, String name);

    public native int QelGetCMANames(long handle);
}
