// SPDX-License-Identifier: Apache-2.0
/**
 * Magnetic stripe card data: {@link com.trov.jpos.msr.Track} checks one track as the keyboard
 * delivers it (sentinels, character set, check character) and gives its data with or without the
 * sentinels; {@link com.trov.jpos.msr.SwipeStatus} tells whether a swipe has the tracks the
 * application wants and the error event's codes when not; {@link com.trov.jpos.msr.CardParser} parses
 * tracks 1 and 2 of a payment card into a {@link com.trov.jpos.msr.CardData}. The classes hold no
 * device and start no thread: the MSR service uses them for its track and parsed properties, and an
 * application may use them on its own.
 *
 * <p>Card data never appears in a {@code toString()} or an exception message of these classes; an
 * account number meant to be shown is {@link com.trov.jpos.msr.CardData#getMaskedAccountNumber()}.
 */
package com.trov.jpos.msr;
