// SPDX-License-Identifier: Apache-2.0
import com.trov.jpos.TrovPOSKeyboardService;
import com.trov.jpos.sim.SimKeyboard;
import java.util.concurrent.TimeUnit;

/** Opens the plain keyboard class on the simulated keyboard, sends extended keys and prints what it got. */
public final class PlainKeyboardMain {
    private PlainKeyboardMain() {
    }

    public static void main(String[] args) throws InterruptedException {
        SimKeyboard.reset();
        SimKeyboard.plugKeyboard(0);
        TrovPOSKeyboardService service = new TrovPOSKeyboardService();
        System.out.println("open returned " + service.OpenPOSKeyboard());
        service.claimPOSKeyboard(true);
        service.enablePOSKeyboard(true);
        SimKeyboard.pressKey(0, 0x48, true);
        SimKeyboard.releaseKey(0, 0xC8, true);
        SimKeyboard.pressKey(0, 0x48);
        for (int i = 0; i < 3; ++i) {
            System.out.println("key " + service.keys.poll(10, TimeUnit.SECONDS));
        }
        service.claimPOSKeyboard(false);
        service.ClosePOSKeyboard();
    }
}
