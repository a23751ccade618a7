// The program's own script, run in its own world of the viewer and the editor. The page's own
// scripts never run; this one edits the document and reports changes to the program.
(function () {
    if (window.zel) return;
    var bridge = null;
    if (typeof QWebChannel !== 'undefined' && typeof qt !== 'undefined' && qt.webChannelTransport) {
        new QWebChannel(qt.webChannelTransport, function (channel) { bridge = channel.objects.bridge; });
    }
    function changed() {
        if (window.zel.editing && bridge) bridge.modified();
    }
    window.zel = {
        editing: false,
        // Design mode on; pictures present now are stored already and are not captured again.
        startEditing: function () {
            if (document.designMode !== 'on') document.designMode = 'on';
            this.editing = true;
            var images = document.images;
            for (var i = 0; i < images.length; ++i) images[i].setAttribute('save', 'true');
            return true;
        },
        // The document without the helper attributes, as it is stored.
        html: function () {
            var root = document.documentElement.cloneNode(true);
            var marked = root.querySelectorAll('[save],[unsave]');
            for (var i = 0; i < marked.length; ++i) {
                marked[i].removeAttribute('save');
                marked[i].removeAttribute('unsave');
            }
            return root.outerHTML;
        },
        pictures: function () {
            var out = [];
            var images = document.images;
            for (var i = 0; i < images.length; ++i) {
                images[i].removeAttribute('unsave');
                out.push({ index: i, src: images[i].getAttribute('src') || '', save: images[i].getAttribute('save') || '' });
            }
            return out;
        },
        setSource: function (indices, url) {
            var images = document.images;
            for (var i = 0; i < indices.length; ++i) {
                var img = images[indices[i]];
                if (!img) continue;
                img.setAttribute('src', url);
                img.setAttribute('save', 'true');
            }
            return true;
        },
        // Scrolls to the anchor of that name (letter case ignored) and selects its text.
        scrollToAnchor: function (name) {
            var wanted = String(name).toLowerCase();
            var anchors = document.querySelectorAll('a[name], [id]');
            for (var i = 0; i < anchors.length; ++i) {
                var a = anchors[i];
                var n = (a.getAttribute('name') || a.getAttribute('id') || '').toLowerCase();
                if (n !== wanted) continue;
                a.scrollIntoView();
                var range = document.createRange();
                range.selectNodeContents(a);
                var sel = window.getSelection();
                sel.removeAllRanges();
                sel.addRange(range);
                return true;
            }
            return false;
        },
        clear: function () {
            if (document.body) document.body.innerHTML = '';
            return true;
        }
    };
    document.addEventListener('input', changed, true);
    document.addEventListener('cut', changed, true);
    document.addEventListener('paste', changed, true);
    document.addEventListener('drop', changed, true);
    document.addEventListener('keydown', function (e) {
        if (e.keyCode === 8 || e.keyCode === 46 || e.keyCode === 229 || (e.ctrlKey && e.keyCode === 90)) changed();
    }, true);
})();
