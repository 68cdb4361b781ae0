# gimp3_test.py - the GIMP 3 side of gimp3_test.sh, run by GIMP's Python:
# each case of SPECTRA_WORK/cases loads its picture, runs a filter on its
# layer and saves the layer's pixels before and after as GIMP holds them
# (for the one-step procedures, the new image's layer after); the shell
# compares them with the command's. Then what GIMP registered for
# each procedure. With SPECTRA_UNDO set, in GIMP's window: a filter run on a
# shown picture, then, once the shell has typed one Ctrl+Z into the window,
# whether the layer is back and the selection kept.
import os
import time
import gi
gi.require_version('Gimp', '3.0')
gi.require_version('Gegl', '0.4')
from gi.repository import Gimp, Gio, Gegl

work = os.environ['SPECTRA_WORK']
log = open(work + ('/undo.txt' if os.environ.get('SPECTRA_UNDO') else '/log.txt'), 'a')
pdb = Gimp.get_pdb()


def say(*words):
    log.write(' '.join(str(w) for w in words) + '\n')
    log.flush()


def pixels(layer):
    area = Gegl.Rectangle.new(0, 0, layer.get_width(), layer.get_height())
    return bytes(layer.get_buffer().get(area, 1.0, None, Gegl.AbyssPolicy.NONE))


def depth_of(image):
    nick = image.get_precision().value_nick
    return {'u8': 8, 'u1': 16, 'fl': 32}.get(nick[:2], 0)


def size(out, image, layer):
    colours = 1 if layer.is_gray() else 3
    open(out + '.size', 'w').write('%d %d %d %d' % (
        layer.get_height(), layer.get_width(), colours + layer.has_alpha(), depth_of(image)))


def run(procedure, image, layers):
    proc = pdb.lookup_procedure(procedure)
    config = proc.create_config()
    config.set_property('run-mode', Gimp.RunMode.NONINTERACTIVE)
    config.set_property('image', image)
    config.set_core_object_array('drawables', layers)
    result = proc.run(config)
    ok = result.index(0) == Gimp.PDBStatusType.SUCCESS
    return ok, (result.index(1) if result.length() > 1 else '')


def table():
    for line in open(work + '/cases'):
        name, picture, precision, prep, p = line.split()[:5]
        procedure = ('plug-in-' if p.startswith('failing') else 'plug-in-spectra-') + p
        try:
            image = Gimp.file_load(Gimp.RunMode.NONINTERACTIVE,
                                   Gio.File.new_for_path(work + '/in/' + picture))
            layer = image.get_layers()[0]
            if precision != '0':
                # GIMP 2.10's names, as the cases give them
                precision = precision[len('PRECISION-'):].replace('GAMMA', 'NON-LINEAR')
                image.convert_precision(getattr(Gimp.Precision, precision.replace('-', '_')))
            if prep == 'select':
                image.select_rectangle(Gimp.ChannelOps.REPLACE, 11, 7, 40, 30)
            if prep == 'offset':
                layer.resize(61, 37, -9, -5)
            if prep == 'grey':
                image.convert_grayscale()
            layers = [layer]
            if prep == 'two':
                second = Gimp.Layer.new_from_drawable(layer, image)
                image.insert_layer(second, None, 0)
                layers = [layer, second]
            before = pixels(layer)
            out = work + '/out/' + name
            size(out + '-in', image, layer)
            if prep == 'spectrum':
                image = run('plug-in-spectra-spectrum-image', image, [layer])[1]
                layer = image.get_layers()[0]
                layers = [layer]
            bounds = Gimp.Selection.bounds(image)
            image.clean_all()
            ok, message = run(procedure, image, layers)
            after = pixels(layer)
            if not ok:
                same = after == before and not image.is_dirty()
                say('REFUSED', name, 'unchanged' if same else 'changed', message)
            else:
                made, made_layer = image, layer
                if isinstance(message, Gimp.Image):
                    # a one-step procedure: its new image is compared
                    made, made_layer = message, message.get_layers()[0]
                    after = pixels(made_layer)
                    if not image.is_dirty():
                        say('SOURCE-CLEAN', name)
                open(out + '-in.raw', 'wb').write(before)
                open(out + '.raw', 'wb').write(after)
                size(out, made, made_layer)
                if Gimp.Selection.bounds(image) == bounds:
                    say('SELECTION-KEPT', name)
                say('DONE', name)
            image.delete()
        except Exception as e:
            say('ERROR', name, repr(e))


def registration():
    for procedure in ['plug-in-spectra-plane', 'plug-in-spectra-plane-inverse',
                      'plug-in-spectra-volume', 'plug-in-spectra-row',
                      'plug-in-spectra-descreen', 'plug-in-spectra-spectrum-image',
                      'plug-in-spectra-image-from-spectrum']:
        proc = pdb.lookup_procedure(procedure)
        say('PROCEDURE', procedure, proc.get_menu_label(), proc.get_image_types(),
            ','.join(proc.get_menu_paths()), ','.join(a.name for a in proc.get_arguments()))


def undo_first():
    """Shows the picture and runs the filter on it; the next batch looks at
    the layer once the shell has typed Ctrl+Z."""
    image = Gimp.file_load(Gimp.RunMode.NONINTERACTIVE,
                           Gio.File.new_for_path(work + '/in/rgba16.png'))
    layer = image.get_layers()[0]
    Gimp.Display.new(image)
    image.select_rectangle(Gimp.ChannelOps.REPLACE, 11, 7, 40, 30)
    original = pixels(layer)
    ok, message = run('plug-in-spectra-row', image, [layer])
    Gimp.displays_flush()
    open(work + '/undo-original.raw', 'wb').write(original)
    say('FILTER', 'ran' if ok and pixels(layer) != original else 'did-not-run')
    open(work + '/undo-ready', 'w').close()


def undo_then():
    """After the Ctrl+Z: the layer as it was, the selection kept?"""
    for i in range(600):
        if os.path.exists(work + '/undo-typed'):
            break
        time.sleep(0.1)
    time.sleep(1)
    image = Gimp.get_images()[0]
    layer = image.get_layers()[0]
    original = open(work + '/undo-original.raw', 'rb').read()
    say('UNDO', 'restored' if pixels(layer) == original else 'not-restored',
        *Gimp.Selection.bounds(image)[-4:])
    say('END')


if not os.environ.get('SPECTRA_UNDO'):
    table()
    registration()
    say('END')
elif not os.path.exists(work + '/undo-ready'):
    undo_first()
else:
    undo_then()
