// SPDX-License-Identifier: Apache-2.0
import com.trov.jpos.TrovKeylockService;
import com.trov.jpos.sim.SimKeyboard;

/** Opens the incomplete keylock service class on the simulated keyboard and reports what happened. */
public final class LackingListenerMain {
    private LackingListenerMain() {
    }

    public static void main(String[] args) {
        SimKeyboard.reset();
        SimKeyboard.plugKeyboard(0);
        TrovKeylockService service = new TrovKeylockService();
        try {
            System.out.println("open returned " + service.OpenKeylock());
        } catch (NoSuchMethodError e) {
            System.out.println("thrown: " + e);
        }
        System.out.println("device handles after the failed open: " + SimKeyboard.openHandles(0));
        try {
            System.out.println("second open returned " + service.OpenKeylock());
        } catch (NoSuchMethodError e) {
            System.out.println("second open: " + e);
        }
        service.CloseKeylock();
    }
}
