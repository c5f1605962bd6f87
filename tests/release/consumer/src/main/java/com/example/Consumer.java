package com.example;

import com.brenn.varnis.tq.api.jqel.JQelMessage;

/** A program of a Java team that depends on the classes by their Maven coordinates. */
public final class Consumer {
    private Consumer() {}

    public static String read(long handle, String name) {
        JQelMessage message = new JQelMessage();
        int rc = message.QelGetCMA(handle, name);
        return rc == 0 ? message.myQelDataString : null;
    }
}
